// Writing the objects of one commit: named in memory and sent to git in one
// pack ("unpack-objects", which stores them loose as hash-object would), so
// that a save runs one process for its blob and trees instead of one each.
// Repositories of another hash than SHA-1 (or not yet known) get one
// hash-object per object instead.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"
#include "write/tree_edit.h"

struct object_batch {
  bool packed;      // SHA-1: named here and packed; otherwise written at once
  size_t hash_len;  // raw hash length, learned from git when not known
  const char *root;
  strbuf pack;      // the objects, packed, after room for the header
  unsigned count;
};

// hash_len 0 when not known (a repository without commits).
void objects_begin(object_batch *b, const char *root, size_t hash_len);
// Names (and queues, or writes) an object of type "blob" or "tree". 0, or
// -1 with the message.
int objects_add(object_batch *b, const char *type, const char *data, size_t len,
                char hex[HASH_HEX_CAP]);
// Writes what is queued. 0, or -1 with the message.
int objects_flush(object_batch *b);
// Completes the queued pack (header count and trailer) in b->pack without
// writing it: objects_flush's first half. 0, or -1 when memory ran out.
int objects_pack_finish(object_batch *b);
void objects_release(object_batch *b);

// The parts of a pack, exposed for the tests: a zlib stream of stored
// blocks, and the name git gives an object.
int zlib_stored(strbuf *out, const char *data, size_t len);
void object_name(const char *type, const char *data, size_t len, unsigned char out[20]);
