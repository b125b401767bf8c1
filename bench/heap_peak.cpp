#include "heap_peak.h"

#include <malloc.h>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

// Single-threaded benchmark: plain counters suffice.
static long long s_in_use, s_peak, s_at_mark;

static void grow(void *p) {
  if (!p) return;
  s_in_use += (long long)malloc_usable_size(p);
  if (s_in_use > s_peak) s_peak = s_in_use;
}

static void shrink(void *p) {
  if (p) s_in_use -= (long long)malloc_usable_size(p);
}

extern "C" void *malloc(size_t n) {
  void *p = __libc_malloc(n);
  grow(p);
  return p;
}

extern "C" void *calloc(size_t n, size_t size) {
  void *p = __libc_calloc(n, size);
  grow(p);
  return p;
}

extern "C" void *realloc(void *old, size_t n) {
  // A moving realloc holds both blocks for a moment: count the old one
  // until the new one exists.
  long long old_size = old ? (long long)malloc_usable_size(old) : 0;
  void *p = __libc_realloc(old, n);
  if (!p) {
    if (old && n == 0) s_in_use -= old_size;  // glibc freed it
    return p;
  }
  long long new_size = (long long)malloc_usable_size(p);
  if (p != old && s_in_use + new_size > s_peak) s_peak = s_in_use + new_size;
  s_in_use += new_size - old_size;
  if (s_in_use > s_peak) s_peak = s_in_use;
  return p;
}

extern "C" void free(void *p) {
  shrink(p);
  __libc_free(p);
}

void heap_mark(void) {
  s_at_mark = s_in_use;
  s_peak = s_in_use;
}

long long heap_peak_since_mark(void) { return s_peak - s_at_mark; }
