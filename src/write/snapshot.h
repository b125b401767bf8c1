// One consistent reading of the branch tip: its commit and the trees of the
// directories a write touches, taken in one git process.
#pragma once

#include <stddef.h>

#include "git/runner.h"
#include "write/tree_edit.h"

struct snap_dir {
  const char *path;   // "" for the root, "pages", "pages/sub" (owned by the caller)
  bool exists;        // a tree is there
  bool blocked;       // something other than a tree is there
  char hex[HASH_HEX_CAP];
  raw_tree_entry *entries;  // point into the snapshot's output
  size_t n;
};

// An object asked for besides the trees ("REV:PATH"): whether it is there
// and its hash.
struct snap_object {
  bool found;
  char hex[HASH_HEX_CAP];
};

struct snapshot {
  bool born;  // HEAD names a commit
  char tip[HASH_HEX_CAP];
  size_t hash_len;  // raw hash length (20, or 32 in a SHA-256 repository)
  snap_dir *dirs;
  size_t n_dirs;
  snap_object *objects;  // one per extra name
  git_output raw;
};

// Reads HEAD and the trees of dirs (parents before children, the root ""
// first), then the objects named in extra (NUL-separated names, n_extra of
// them, read in the same process). Returns 0, 1 when HEAD moved while it was
// read (read again), or -1 with the message set.
int snapshot_read(const char *root, const char *const *dirs, size_t n, const char *extra,
                  size_t n_extra, snapshot *s);
void snapshot_release(snapshot *s);

// What the snapshot holds at a repository path: 1 a file (mode and hex
// set), 0 nothing, -1 a directory or a file where a directory belongs.
int snapshot_lookup(const snapshot *s, const char *repo, char mode[8], char hex[HASH_HEX_CAP]);

// The directory record for path, or null.
const snap_dir *snapshot_dir(const snapshot *s, const char *path, size_t len);
