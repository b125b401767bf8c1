// One record of "git ls-tree -z": "MODE SP TYPE SP HASH TAB PATH NUL".
#pragma once

#include <stddef.h>

struct tree_entry {
  char mode[8];
  char type[8];
  char hash[72];     // hexadecimal object name (SHA-1 or SHA-256)
  const char *path;  // into the parsed text, path_len bytes, not terminated
  size_t path_len;
};

// Reads the record at text[*pos] (len bytes in all) and moves *pos past it.
// False at the end of the text or on a record of another shape.
bool next_tree_entry(const char *text, size_t len, size_t *pos, tree_entry *e);
