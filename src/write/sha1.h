// SHA-1, for naming git objects in memory before they are written.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct sha1_ctx {
  uint32_t h[5];
  uint64_t length;  // bytes so far
  unsigned char block[64];
  size_t used;
};

void sha1_init(sha1_ctx *c);
void sha1_update(sha1_ctx *c, const void *data, size_t len);
void sha1_final(sha1_ctx *c, unsigned char out[20]);
