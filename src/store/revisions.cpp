#include <stdio.h>
#include <stdlib.h>

#include "frame/error.h"
#include "frame/utf8.h"
#include "git/invocations.h"
#include "store/author.h"
#include "store/commit.h"
#include "store/fs.h"
#include "store/writer_lock.h"
#include "store/handle.h"
#include "store/paths.h"

enum { WIKIDB_OBJECT_CAP = 700, WIKIDB_ROLLBACK_MESSAGE_CAP = 300 };

static const char s_empty[] = "";

// A revision git would read as an option ("--output=FILE") is refused, so
// that no host string can make git write files.
static bool is_revision(const char *commit) { return commit && commit[0] != '-'; }

extern "C" WIKIDB_API const char *wikidb_get_revision(wikidb_handle *h, const char *title,
                                                      const char *commit) {
  clear_error();
  page_path p;
  char object[WIKIDB_OBJECT_CAP];
  int n = 0;
  bool ok = h && title && *title && commit && *commit && is_revision(commit) &&
            page_paths(h->root, title, &p);
  // A cut object name would read some other object than the page.
  if (ok) n = snprintf(object, sizeof object, "%s:%s", commit, p.repo);
  if (!ok || n < 0 || (size_t)n >= sizeof object) {
    set_error("Invalid parameters to wikidb_get_revision");
    return nullptr;
  }
  char *out = nullptr;
  if (git_show(h->root, object, &out) != 0) {
    free(out);
    return nullptr;
  }
  replace_slot(&h->revision_buf, out);
  clear_error();
  return out ? out : s_empty;
}

extern "C" WIKIDB_API const char *wikidb_get_diff(wikidb_handle *h, const char *title,
                                                  const char *from_commit, const char *to_commit) {
  clear_error();
  page_path p;
  if (!h || !title || !*title || !is_revision(from_commit) || !is_revision(to_commit) ||
      !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_get_diff");
    return s_empty;
  }
  // git's complaint about an unknown revision is the answer too.
  char *out = nullptr;
  git_diff(h->root, from_commit, to_commit, p.repo, &out);
  replace_slot(&h->diff_buf, out);
  clear_error();
  return out ? out : s_empty;
}

static int rollback_locked(wikidb_handle *h, const char *title, const char *commit,
                           const page_path *p, const char *author) {
  if (refuse_case_twin(h->root, p)) return -1;
  // The checkout puts the old text in both the file and the index.
  if (git_checkout(h->root, commit, p->repo) != 0) return -1;
  // git does not sync the work tree: the restored text is on the disk
  // before the commit that names it.
  pagefs_sync(h->root, p->repo);
  char identity[WIKIDB_AUTHOR_CAP], message[WIKIDB_ROLLBACK_MESSAGE_CAP];
  format_author(author, identity);
  int n = snprintf(message, sizeof message, "Rollback %s to %s", title, commit);
  if (n >= (int)sizeof message) message[utf8_whole(message, sizeof message - 1)] = '\0';
  return commit_with_acceptance(h, message, identity);
}

extern "C" WIKIDB_API int wikidb_rollback(wikidb_handle *h, const char *title, const char *commit,
                                          const char *author) {
  clear_error();
  page_path p;
  if (!h || !title || !*title || !commit || !*commit || !is_revision(commit) ||
      !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_rollback");
    return -1;
  }
  wiki_lock lock = writer_begin(h);
  int rc = rollback_locked(h, title, commit, &p, author);
  writer_end(&lock);
  return rc;
}
