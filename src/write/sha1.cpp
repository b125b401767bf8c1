#include "write/sha1.h"

#include <string.h>

static uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

static void sha1_block(sha1_ctx *c, const unsigned char *p) {
  uint32_t w[80];
  for (int i = 0; i < 16; i++)
    w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 |
           (uint32_t)p[4 * i + 3];
  for (int i = 16; i < 80; i++) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = c->h[0], b = c->h[1], cc = c->h[2], d = c->h[3], e = c->h[4];
  for (int i = 0; i < 80; i++) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & cc) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ cc ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & cc) | (b & d) | (cc & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ cc ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = rol(a, 5) + f + e + k + w[i];
    e = d;
    d = cc;
    cc = rol(b, 30);
    b = a;
    a = t;
  }
  c->h[0] += a;
  c->h[1] += b;
  c->h[2] += cc;
  c->h[3] += d;
  c->h[4] += e;
}

void sha1_init(sha1_ctx *c) {
  static const uint32_t start[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  memcpy(c->h, start, sizeof start);
  c->length = 0;
  c->used = 0;
}

void sha1_update(sha1_ctx *c, const void *data, size_t len) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  c->length += len;
  if (c->used) {
    size_t take = 64 - c->used < len ? 64 - c->used : len;
    memcpy(c->block + c->used, p, take);
    c->used += take;
    p += take;
    len -= take;
    if (c->used < 64) return;
    sha1_block(c, c->block);
    c->used = 0;
  }
  for (; len >= 64; p += 64, len -= 64) sha1_block(c, p);
  memcpy(c->block, p, len);
  c->used = len;
}

void sha1_final(sha1_ctx *c, unsigned char out[20]) {
  const uint64_t bits = c->length * 8;
  static const unsigned char pad[64] = {0x80};
  size_t fill = c->used < 56 ? 56 - c->used : 120 - c->used;
  sha1_update(c, pad, fill);
  unsigned char len_be[8];
  for (int i = 0; i < 8; i++) len_be[i] = (unsigned char)(bits >> (56 - 8 * i));
  sha1_update(c, len_be, 8);
  for (int i = 0; i < 5; i++) {
    out[4 * i] = (unsigned char)(c->h[i] >> 24);
    out[4 * i + 1] = (unsigned char)(c->h[i] >> 16);
    out[4 * i + 2] = (unsigned char)(c->h[i] >> 8);
    out[4 * i + 3] = (unsigned char)c->h[i];
  }
}
