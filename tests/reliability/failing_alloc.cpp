// Replaces malloc and its kin for this executable, on top of glibc's own
// entry points, so every allocation of the library (and of the C and C++
// runtimes) passes through the counter.
#include "failing_alloc.h"

#include <errno.h>
#include <stdint.h>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

// Relaxed atomics: the library is single-threaded on this platform, but the
// test runner may not be.
long s_fail_at = 0;
long s_count = 0;
long s_live = 0;
bool s_failed = false;

// True when this allocation is the one to fail.
bool take_turn() {
  long n = __atomic_add_fetch(&s_count, 1, __ATOMIC_RELAXED);
  if (s_fail_at != 0 && n == s_fail_at) {
    s_failed = true;
    errno = ENOMEM;
    return true;
  }
  return false;
}

void *counted(void *p) {
  if (p) __atomic_add_fetch(&s_live, 1, __ATOMIC_RELAXED);
  return p;
}

}  // namespace

namespace failing_alloc {
void fail_nth(long n) {
  s_count = 0;
  s_failed = false;
  s_fail_at = n;
}
bool failed() { return s_failed; }
long count() { return s_count; }
long live_blocks() { return __atomic_load_n(&s_live, __ATOMIC_RELAXED); }
}  // namespace failing_alloc

extern "C" {

void *malloc(size_t n) { return take_turn() ? nullptr : counted(__libc_malloc(n)); }

void *calloc(size_t k, size_t n) { return take_turn() ? nullptr : counted(__libc_calloc(k, n)); }

void free(void *p) {
  if (!p) return;
  __atomic_sub_fetch(&s_live, 1, __ATOMIC_RELAXED);
  __libc_free(p);
}

void *realloc(void *p, size_t n) {
  if (!p) return malloc(n);
  if (n == 0) {
    free(p);
    return nullptr;
  }
  // A failed realloc leaves the old block alive, as the real one does.
  return take_turn() ? nullptr : __libc_realloc(p, n);
}

void *memalign(size_t align, size_t n) {
  return take_turn() ? nullptr : counted(__libc_memalign(align, n));
}

void *aligned_alloc(size_t align, size_t n) { return memalign(align, n); }

int posix_memalign(void **out, size_t align, size_t n) {
  void *p = memalign(align, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

}  // extern "C"
