#include "write/objects.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "write/sha1.h"

enum { PACK_HEADER = 12 };

void objects_begin(object_batch *b, const char *root, size_t hash_len) {
  *b = {};
  b->root = root;
  b->hash_len = hash_len;
  b->packed = hash_len == 20;
}

void objects_release(object_batch *b) {
  strbuf_release(&b->pack);
  b->count = 0;
}

void object_name(const char *type, const char *data, size_t len, unsigned char out[20]) {
  char header[64];
  int n = snprintf(header, sizeof header, "%s %llu", type, (unsigned long long)len);
  sha1_ctx c;
  sha1_init(&c);
  sha1_update(&c, header, (size_t)n + 1);  // with its NUL
  sha1_update(&c, data, len);
  sha1_final(&c, out);
}

// zlib's format with stored (uncompressed) blocks: unpack-objects inflates
// it at memory speed and compresses the loose object itself.
int zlib_stored(strbuf *out, const char *data, size_t len) {
  const unsigned char head[2] = {0x78, 0x01};
  int rc = strbuf_append(out, head, 2);
  size_t at = 0;
  do {
    size_t n = len - at > 65535 ? 65535 : len - at;
    const bool last = at + n == len;
    const unsigned char block[5] = {(unsigned char)(last ? 1 : 0), (unsigned char)(n & 0xff),
                                    (unsigned char)(n >> 8), (unsigned char)(~n & 0xff),
                                    (unsigned char)((~n >> 8) & 0xff)};
    if (rc == 0) rc = strbuf_append(out, block, 5);
    if (rc == 0 && n) rc = strbuf_append(out, data + at, n);
    at += n;
  } while (at < len && rc == 0);
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < len; i++) {
    a = (a + (unsigned char)data[i]) % 65521;
    b = (b + a) % 65521;
  }
  const uint32_t adler = (b << 16) | a;
  const unsigned char tail[4] = {(unsigned char)(adler >> 24), (unsigned char)(adler >> 16),
                                 (unsigned char)(adler >> 8), (unsigned char)adler};
  if (rc == 0) rc = strbuf_append(out, tail, 4);
  return rc;
}

int objects_add(object_batch *b, const char *type, const char *data, size_t len,
                char hex[HASH_HEX_CAP]) {
  if (!b->packed) {
    char *out = nullptr;
    int rc = git_hash_object(b->root, type, data, len, &out);
    size_t hl = rc == 0 && out ? hex_run(out, strlen(out)) : 0;
    if (rc == 0 && hl != 40 && hl != 64) {
      set_error("Unexpected hash from git");
      rc = -1;
    }
    if (rc == 0) {
      memcpy(hex, out, hl);
      hex[hl] = '\0';
      b->hash_len = hl / 2;
    }
    free(out);
    return rc == 0 ? 0 : -1;
  }
  unsigned char name[20];
  object_name(type, data, len, name);
  hash_to_hex(name, 20, hex);
  if (!b->pack.len && strbuf_append(&b->pack, "PACK\0\0\0\2\0\0\0\0", PACK_HEADER) != 0) {
    set_error("Memory allocation failed");
    return -1;
  }
  // The object's header: its type in bits 4-6 of the first byte, its size
  // in 4 bits then 7 bits a byte, the high bit saying more follows.
  const int code = strcmp(type, "tree") == 0 ? 2 : 3;
  unsigned char head[16];
  size_t n = 0, size = len;
  head[n] = (unsigned char)((code << 4) | (size & 15));
  size >>= 4;
  while (size) {
    head[n++] |= 0x80;
    head[n] = (unsigned char)(size & 0x7f);
    size >>= 7;
  }
  n++;
  if (strbuf_append(&b->pack, head, n) != 0 || zlib_stored(&b->pack, data, len) != 0) {
    set_error("Memory allocation failed");
    return -1;
  }
  b->count++;
  return 0;
}

int objects_pack_finish(object_batch *b) {
  unsigned char *p = reinterpret_cast<unsigned char *>(b->pack.data);
  for (int i = 0; i < 4; i++) p[8 + i] = (unsigned char)(b->count >> (24 - 8 * i));
  unsigned char trailer[20];
  sha1_ctx c;
  sha1_init(&c);
  sha1_update(&c, b->pack.data, b->pack.len);
  sha1_final(&c, trailer);
  if (strbuf_append(&b->pack, trailer, 20) != 0) {
    set_error("Memory allocation failed");
    return -1;
  }
  return 0;
}

int objects_flush(object_batch *b) {
  if (!b->count) return 0;
  if (objects_pack_finish(b) != 0) return -1;
  int rc = git_unpack_objects(b->root, b->pack.data, b->pack.len);
  objects_release(b);
  return rc == 0 ? 0 : -1;
}
