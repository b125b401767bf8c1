#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/commit_graph.h"
#include "git/invocations.h"
#include "store/writer_lock.h"
#include "store/fs.h"
#include "store/handle.h"
#include "store/journal.h"
#include "store/repo_state.h"
#include "store/paths.h"

extern "C" WIKIDB_API wikidb_handle *wikidb_open(const char *wiki_root) {
  clear_error();
  if (!wiki_root || !*wiki_root) {
    set_error("Invalid wiki_root parameter");
    return nullptr;
  }
  // A root that is all separators, or too long to store whole, would name
  // another directory than the caller's: refuse it.
  size_t n = strlen(wiki_root);
  while (n > 0 && is_sep(wiki_root[n - 1])) n--;
  if (n == 0 || n >= WIKIDB_ROOT_CAP) {
    set_error("Invalid wiki_root parameter");
    return nullptr;
  }
  wikidb_handle *h = static_cast<wikidb_handle *>(calloc(1, sizeof *h));
  if (!h) {
    set_error("Memory allocation failed");
    return nullptr;
  }
  memcpy(h->root, wiki_root, n);
  h->root[n] = '\0';

  // git would take a bare repository's own directory for a work tree's
  // parent and nest a second repository inside it.
  if (repo_root_is_bare(h->root)) {
    free(h);
    set_error("Wiki root is a bare repository");
    return nullptr;
  }

  char pages[1100], meta[1100], git_dir[1100];
  snprintf(pages, sizeof pages, "%s/pages", h->root);
  snprintf(meta, sizeof meta, "%s/meta", h->root);
  snprintf(git_dir, sizeof git_dir, "%s/.git", h->root);
  mkdir_p(h->root);
  mkdir_p(pages);
  mkdir_p(meta);

  if (!fs_is_dir(git_dir) && git_init(h->root) != 0) {
    free(h);
    return nullptr;
  }
  // Under the writer lock, so that no other opener's config write can find
  // the configuration locked. An open that cannot have the lock in time
  // still succeeds, its message left as a failed setting leaves its own.
  wiki_lock lock;
  if (writer_begin_settings(h, &lock) != 0) return h;
  // Journalled with no page: an opener killed mid-write leaves git's
  // configuration lock to be cleared by the next writer.
  const bool journalled = journal_begin(h, 'I', nullptr, 0) == 0;
  git_write_settings(h->root);
  // A wiki made or grown by other means (an import, plain git, handles
  // closed before their own refresh) gets its graph here, so that page
  // histories stay fast, and each open computes another bounded share of
  // the filters an imported history lacks; a failure leaves the slot as the
  // settings left it.
  const graph_upkeep upkeep = commit_graph_upkeep(h->root, false);
  if (upkeep != GRAPH_KEEP) git_update_commit_graph(h->root, upkeep == GRAPH_FILL);
  if (journalled) journal_end(h);
  writer_end(&lock);
  return h;
}

extern "C" WIKIDB_API void wikidb_close(wikidb_handle *h) {
  if (!h) return;
  free(h->page_buf);
  free(h->history_buf);
  free(h->revision_buf);
  free(h->diff_buf);
  free(h->list_buf);
  free(h->recent_buf);
  free(h->page_revision_buf);
  free(h->conflict_buf);
  free(h->sync_buf);
  free(h->sync_config);
  if (h->batch && h->release_batch) h->release_batch(h);
  free(h->history_page_buf);
  free(h->recent_page_buf);
  free(h->search_buf);
  free(h->deleted_buf);
  free(h->blame_buf);
  free(h);
}
