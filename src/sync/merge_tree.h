// What "git merge-tree --write-tree -z --name-only --no-messages" prints,
// read as a plain function of its bytes.
#pragma once

#include <stddef.h>

struct merge_tree_result {
  char tree[65];    // the merged tree (with conflict markers where paths conflict)
  char **paths;     // the conflicted paths, each once, in git's order
  size_t n_paths;
};

// 0, or -1 when the bytes are not merge-tree's output or memory ran out (the
// result is then empty). Release with merge_tree_release.
int parse_merge_tree(const char *out, size_t len, merge_tree_result *res);
void merge_tree_release(merge_tree_result *res);
