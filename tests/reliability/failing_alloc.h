// An allocator for the whole test executable that can be told to fail one
// allocation, and that counts the blocks alive, so a test sees both what a
// failed allocation does and whether anything was left behind.
#pragma once

#include <stddef.h>

namespace failing_alloc {

// From now on, the nth allocation (1 = the next one) returns null; 0 disarms.
void fail_nth(long n);

// Whether the armed failure has happened since fail_nth.
bool failed();

// Allocations made since the last fail_nth.
long count();

// Blocks currently allocated and not yet freed.
long live_blocks();

}  // namespace failing_alloc
