#include "store/commit.h"

#include <stdio.h>
#include <stdlib.h>

#include "frame/error.h"
#include "git/invocations.h"

// Commits between refreshes of git's commit-graph by one handle.
enum { GRAPH_REFRESH_COMMITS = 50 };

int commit_with_acceptance(wikidb_handle *h, const char *message, const char *author) {
  char *out = nullptr;
  int rc = git_commit(h->root, message, author, &out);
  if (rc == 0) {
    free(out);
    clear_error();
    if (++h->commits_since_graph >= GRAPH_REFRESH_COMMITS) {
      h->commits_since_graph = 0;
      git_update_commit_graph(h->root);
    }
    return 0;
  }
  if (!out) return -1;
  free(out);
  // Ask git whether anything is staged rather than reading its wording,
  // which depends on the language and on untracked files.
  char commit_message[WIKIDB_ERROR_CAP];
  save_error(commit_message);
  if (git_staged_changes(h->root) == 0) {
    clear_error();
    return 0;
  }
  restore_error(commit_message);
  return -1;
}

wiki_lock writer_begin(const wikidb_handle *h) {
  wiki_lock lock = wiki_lock_acquire(h->root);
  char index_lock[1200];
  int n = snprintf(index_lock, sizeof index_lock, "%s/.git/index.lock", h->root);
  if (n > 0 && (size_t)n < sizeof index_lock) {
    int waited = 0;
    for (int pause = 5; waited < 5000 && fs_exists(index_lock); pause *= 2) {
      if (pause > 250) pause = 250;
      fs_sleep_ms(pause);
      waited += pause;
    }
  }
  return lock;
}

void writer_end(wiki_lock *lock) { wiki_unlock(lock); }
