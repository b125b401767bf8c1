#include "store/commit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/commit_graph.h"
#include "git/invocations.h"

void note_commit(wikidb_handle *h) {
  if (++h->commits_since_graph >= GRAPH_REFRESH_COMMITS) {
    h->commits_since_graph = 0;
    // Loose objects are packed here, once per refresh and in the
    // foreground, rather than left to git's automatic maintenance, a
    // child of every commit that is meant to be switched off for the
    // library's git processes (maintenance.auto=false).
    git_gc_auto(h->root);
    const graph_upkeep upkeep = commit_graph_upkeep(h->root, true);
    if (upkeep != GRAPH_KEEP) git_update_commit_graph(h->root, upkeep == GRAPH_FILL);
  }
}

void remember_head(wikidb_handle *h) {
  h->last_commit[0] = '\0';
  char *out = nullptr;
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  // Still under the writer lock: HEAD is the commit just made.
  if (git_rev_parse_head(h->root, &out) == 0 && out) {
    size_t n = strcspn(out, "\n");
    if (n < sizeof h->last_commit) {
      memcpy(h->last_commit, out, n);
      h->last_commit[n] = '\0';
    }
  }
  free(out);
  restore_error(saved);
}

int commit_with_acceptance(wikidb_handle *h, const char *message, const char *author) {
  h->last_commit[0] = '\0';
  char *out = nullptr;
  int rc = git_commit(h->root, message, author, &out);
  if (rc == 0) {
    free(out);
    remember_head(h);
    clear_error();
    note_commit(h);
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

