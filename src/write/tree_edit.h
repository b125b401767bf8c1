// Raw git tree objects read, edited and written in memory: the pieces of a
// commit built without any index. Plain byte work, no process.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

enum { HASH_RAW_MAX = 32, HASH_HEX_CAP = 2 * HASH_RAW_MAX + 1 };

struct raw_tree_entry {
  const char *mode;  // octal digits as git writes them ("100644", "40000")
  size_t mode_len;
  const char *name;
  size_t name_len;
  const unsigned char *hash;  // hash_len raw bytes
};

// Splits a raw tree of len bytes into entries (a new array, freed by the
// caller; null for an empty tree). 0, or -1 when the bytes are not a tree
// or memory ran out.
int tree_parse(const char *data, size_t len, size_t hash_len, raw_tree_entry **entries, size_t *n);

// Index of the entry called name, or -1.
long tree_find(const raw_tree_entry *entries, size_t n, const char *name, size_t name_len);

bool mode_is_tree(const char *mode, size_t mode_len);

// One child of a directory as it is to be: present with mode and hash, or
// removed.
struct tree_change {
  const char *name;
  size_t name_len;
  bool present;
  const char *mode;  // NUL-terminated
  unsigned char hash[HASH_RAW_MAX];
};

// Appends the raw tree made of entries with changes applied (each change's
// name at most once), in git's order. 0, or -1 when memory ran out.
int tree_build(const raw_tree_entry *entries, size_t n, const tree_change *changes, size_t n_changes,
               size_t hash_len, strbuf *out);

// Hexadecimal hashes: false when hex is not exactly 2 * raw_len hex digits.
bool hash_from_hex(const char *hex, size_t hex_len, unsigned char *raw, size_t raw_len);
void hash_to_hex(const unsigned char *raw, size_t raw_len, char *hex);
// Length of the run of hex digits at the start of text.
size_t hex_run(const char *text, size_t len);
