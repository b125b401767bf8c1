// What the repository's own files say about it: the branch HEAD names, an
// operation left half done, a bare root, and the lock files git takes.
#pragma once

#include <stddef.h>

enum { REPO_LOCK_PATH_CAP = 1200, REPO_LOCKS_MAX = 9 };

// 0 when a page may be written: HEAD names a branch and no merge, rebase,
// cherry-pick or revert is in progress. Otherwise -1 with "Wiki repository
// is in the middle of a %s" or "Wiki repository has a detached HEAD".
int repo_check_writable(const char *root);

// Whether root itself is a bare repository (HEAD, objects/ and refs/ at its
// top and no .git below it).
bool repo_root_is_bare(const char *root);

// The full paths of the lock files git takes while a page is committed
// (index, HEAD, the branch); with all, also those of the configuration,
// packed refs, commit-graph and maintenance that a library writer's git
// may take. Returns how
// many were written into paths.
size_t repo_git_locks(const char *root, bool all, char paths[REPO_LOCKS_MAX][REPO_LOCK_PATH_CAP]);
