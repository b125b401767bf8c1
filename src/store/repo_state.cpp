#include "store/repo_state.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "store/fs.h"

static bool git_file_exists(const char *root, const char *name) {
  char path[REPO_LOCK_PATH_CAP];
  int n = snprintf(path, sizeof path, "%s/.git/%s", root, name);
  return n > 0 && (size_t)n < sizeof path && fs_exists(path);
}

// The ref HEAD points at ("refs/heads/main"), or false when HEAD is detached
// or unreadable.
static bool head_ref(const char *root, char *ref, size_t cap) {
  char *text = nullptr;
  size_t len = 0;
  if (pagefs_read(root, ".git/HEAD", &text, &len) != PAGEFS_OK) return false;
  bool ok = len > 5 && strncmp(text, "ref: ", 5) == 0;
  if (ok) {
    size_t n = strcspn(text + 5, "\r\n");
    ok = n > 0 && n < cap && strncmp(text + 5, "refs/", 5) == 0;
    // Never a name that climbs out of .git: its lock file may be removed.
    for (size_t i = 5; ok && i + 1 < 5 + n; i++)
      if (text[i] == '.' && text[i + 1] == '.') ok = false;
    if (ok) {
      memcpy(ref, text + 5, n);
      ref[n] = '\0';
    }
  }
  free(text);
  return ok;
}

int repo_check_writable(const char *root) {
  static const char *const operations[][2] = {
      {"MERGE_HEAD", "merge"},         {"rebase-merge", "rebase"}, {"rebase-apply", "rebase"},
      {"CHERRY_PICK_HEAD", "cherry-pick"}, {"REVERT_HEAD", "revert"},
  };
  for (const auto &op : operations) {
    if (git_file_exists(root, op[0])) {
      set_error("Wiki repository is in the middle of a %s", op[1]);
      return -1;
    }
  }
  char ref[REPO_LOCK_PATH_CAP];
  // Only a repository with a readable HEAD file can be judged here; git
  // itself answers for any other kind.
  if (git_file_exists(root, "HEAD") && !head_ref(root, ref, sizeof ref)) {
    set_error("Wiki repository has a detached HEAD");
    return -1;
  }
  return 0;
}

bool repo_root_is_bare(const char *root) {
  char path[REPO_LOCK_PATH_CAP];
  snprintf(path, sizeof path, "%s/.git", root);
  if (fs_exists(path)) return false;
  static const char *const parts[] = {"HEAD", "objects", "refs"};
  for (const char *part : parts) {
    int n = snprintf(path, sizeof path, "%s/%s", root, part);
    if (n < 0 || (size_t)n >= sizeof path || !fs_exists(path)) return false;
  }
  snprintf(path, sizeof path, "%s/objects", root);
  return fs_is_dir(path);
}

size_t repo_git_locks(const char *root, bool all, char paths[REPO_LOCKS_MAX][REPO_LOCK_PATH_CAP]) {
  static const char *const commit_locks[] = {"index.lock", "HEAD.lock"};
  static const char *const writer_locks[] = {
      "config.lock", "packed-refs.lock", "objects/info/commit-graphs/commit-graph-chain.lock",
      "objects/info/commit-graph.lock", "objects/maintenance.lock"};
  size_t k = 0;
  auto add = [&](const char *name) {
    int n = snprintf(paths[k], REPO_LOCK_PATH_CAP, "%s/.git/%s", root, name);
    if (n > 0 && (size_t)n < REPO_LOCK_PATH_CAP) k++;
  };
  for (const char *name : commit_locks) add(name);
  char ref[REPO_LOCK_PATH_CAP - 16], branch_lock[REPO_LOCK_PATH_CAP];
  if (head_ref(root, ref, sizeof ref)) {
    snprintf(branch_lock, sizeof branch_lock, "%s.lock", ref);
    add(branch_lock);
  }
  if (all)
    for (const char *name : writer_locks) add(name);
  return k;
}
