#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/utf8.h"
#include "git/invocations.h"
#include "store/author.h"
#include "store/commit.h"
#include "store/fs.h"
#include "store/journal.h"
#include "store/tree_entry.h"
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

// The page's blob at commit, as ls-tree lists it: 0 with its mode and hash,
// -1 with git's own message (an unknown commit, or no such page there).
static int page_at(const wikidb_handle *h, const char *commit, const char *repo, tree_entry *e) {
  const char *paths[] = {repo};
  git_output tree = {};
  int rc = git_ls_tree(h->root, commit, paths, 1, &tree);
  size_t pos = 0;
  const bool found = rc == 0 && next_tree_entry(tree.out, tree.out_len, &pos, e) &&
                     strcmp(e->type, "blob") == 0;
  git_output_release(&tree);
  if (rc != 0) return -1;
  if (!found) {
    // Let git say that the page is not there, in its own words.
    char object[WIKIDB_OBJECT_CAP];
    snprintf(object, sizeof object, "%s:%s", commit, repo);
    git_output none = {};
    if (git_cat_blob(h->root, object, &none) == 0)
      set_error("Invalid parameters to wikidb_rollback");
    git_output_release(&none);
    return -1;
  }
  // A link or a submodule kept in history is no page text.
  if (strcmp(e->mode, "100644") != 0 && strcmp(e->mode, "100755") != 0) {
    set_error("Invalid parameters to wikidb_rollback");
    return -1;
  }
  return 0;
}

// The old text goes to the file through the no-follow walk and its blob to
// the index entry: git itself never writes into the work tree.
static int rollback_locked(wikidb_handle *h, const char *title, const char *commit,
                           const page_path *p, const char *identity, bool *staged) {
  if (refuse_case_twin(h->root, p)) return -1;
  tree_entry e;
  if (page_at(h, commit, p->repo, &e) != 0) return -1;
  git_output blob = {};
  if (git_cat_blob(h->root, e.hash, &blob) != 0) {
    git_output_release(&blob);
    return -1;
  }
  pagefs_status st = pagefs_write(h->root, p->repo, blob.out ? blob.out : "", blob.out_len);
  git_output_release(&blob);
  if (st == PAGEFS_OPEN_FAILED) {
    set_error("Failed to open file for writing: %s", p->file);
    return -1;
  }
  if (st != PAGEFS_OK) {
    set_error("Failed to write content to: %s", p->file);
    return -1;
  }
  *staged = true;
  if (git_index_add_entry(h->root, e.mode, e.hash, p->repo) != 0) return -1;
  char message[WIKIDB_ROLLBACK_MESSAGE_CAP];
  int n = snprintf(message, sizeof message, "Rollback %s to %s", title, commit);
  if (n >= (int)sizeof message) message[utf8_whole(message, sizeof message - 1)] = '\0';
  return commit_with_acceptance(h, message, identity);
}

extern "C" WIKIDB_API int wikidb_rollback(wikidb_handle *h, const char *title, const char *commit,
                                          const char *author) {
  clear_error();
  if (h) h->last_commit[0] = '\0';
  page_path p;
  if (!h || !title || !*title || !commit || !*commit || !is_revision(commit) ||
      !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_rollback");
    return -1;
  }
  char identity[WIKIDB_AUTHOR_CAP];
  if (!format_author(author, identity)) return -1;
  wiki_lock lock;
  if (writer_begin(h, &lock) != 0) return -1;
  int rc = -1;
  // A directory of the page that is a link would let the text land outside
  // the wiki.
  if (!pagefs_parents_safe(h->root, p.repo))
    set_error("Invalid parameters to wikidb_rollback");
  else {
    const char *paths[] = {p.repo};
    rc = journal_begin(h, 'I', paths, 1);
    if (rc == 0) {
      bool staged = false;
      rc = rollback_locked(h, title, commit, &p, identity, &staged);
      if (rc != 0 && staged)
        journal_abandon(h);
      else
        journal_end(h);
    }
  }
  writer_end(&lock);
  return rc;
}
