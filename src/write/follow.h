// After the branch moved: the touched pages' files and index entries are
// brought to the new commit, and nothing else.
#pragma once

#include <stddef.h>

#include "store/handle.h"
#include "write/tree_edit.h"

struct follow_entry {
  const char *repo;      // "pages/T.wiki"
  bool present;
  char mode[8];
  char hex[HASH_HEX_CAP];
  const char *content;   // the text when known, else null (read from git)
  size_t content_len;
  // A symbolic link or submodule of someone else's commit: only its index
  // entry follows, since the library never writes a link to the disk.
  bool index_only;
};

// Writes each present page atomically (no link followed; index-only entries
// are not written), removes each absent one, then sets their index entries in one update-index run,
// waiting a few seconds for an index another git holds. 0, or -1 with the
// message set.
int follow_entries(const wikidb_handle *h, follow_entry *entries, size_t n, size_t hash_len);
