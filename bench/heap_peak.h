// Heap accounting for the benchmark process: malloc, calloc, realloc and free
// are wrapped around glibc's own, so the peak of the bytes in use between two
// points is known exactly (the library's allocations included, git's not).
#pragma once

#include <stddef.h>

// Starts a measurement: the peak is reset to the bytes in use now.
void heap_mark(void);
// Bytes in use at the highest point since heap_mark, above what was in use
// at heap_mark.
long long heap_peak_since_mark(void);
