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
#include "store/writer_lock.h"
#include "store/handle.h"
#include "store/paths.h"

enum { WIKIDB_MESSAGE_CAP = 256 };

// The caller's message, or the default formed into buf.
static const char *commit_message(const char *message, const char *format, const char *title,
                                  char buf[WIKIDB_MESSAGE_CAP]) {
  if (message && *message) return message;
  // A long title is cut, but never inside a character: the message shows
  // in reports, which must stay UTF-8.
  int n = snprintf(buf, WIKIDB_MESSAGE_CAP, format, title);
  if (n >= WIKIDB_MESSAGE_CAP) buf[utf8_whole(buf, WIKIDB_MESSAGE_CAP - 1)] = '\0';
  return buf;
}

// *staged tells whether the index may hold the new text: a failure after
// that point must bring the page's entry back to HEAD.
static int save_locked(wikidb_handle *h, const char *title, const page_path *p, const char *content,
                       const char *identity, const char *message, bool *staged) {
  if (refuse_case_twin(h->root, p)) return -1;
  pagefs_status st = pagefs_write(h->root, p->repo, content, strlen(content));
  if (st == PAGEFS_OPEN_FAILED) {
    set_error("Failed to open file for writing: %s", p->file);
    return -1;
  }
  if (st != PAGEFS_OK) {
    set_error("Failed to write content to: %s", p->file);
    return -1;
  }
  *staged = true;
  if (git_add(h->root, p->repo) != 0) return -1;
  char buf[WIKIDB_MESSAGE_CAP];
  return commit_with_acceptance(h, commit_message(message, "Update %s", title, buf), identity);
}

// Ends a write begun with journal_begin: on failure after staging, the
// page's index entry goes back to HEAD so that no later commit records it.
static void finish_write(const wikidb_handle *h, int rc, bool staged) {
  if (rc != 0 && staged)
    journal_abandon(h);
  else
    journal_end(h);
}

extern "C" WIKIDB_API int wikidb_save_page(wikidb_handle *h, const char *title, const char *content,
                                           const char *author, const char *message) {
  clear_error();
  if (h) h->last_commit[0] = '\0';
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  page_path p;
  if (!title || !*title || !page_paths(h->root, title, &p)) {
    set_error("Invalid title");
    return -1;
  }
  char identity[WIKIDB_AUTHOR_CAP];
  if (!format_author(author, identity)) return -1;
  wiki_lock lock;
  if (writer_begin(h, &lock) != 0) return -1;
  const char *paths[] = {p.repo};
  int rc = journal_begin(h, 'I', paths, 1);
  if (rc == 0) {
    bool staged = false;
    rc = save_locked(h, title, &p, content ? content : "", identity, message, &staged);
    finish_write(h, rc, staged);
  }
  writer_end(&lock);
  return rc;
}

extern "C" WIKIDB_API const char *wikidb_get_page(wikidb_handle *h, const char *title) {
  clear_error();
  page_path p;
  if (!h || !title || !*title || !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_get_page");
    return nullptr;
  }
  // A page spelled otherwise is another page: this one does not exist.
  char existing[WIKIDB_REPO_PATH_CAP];
  if (page_case_twin(h->root, &p, existing, sizeof existing)) {
    set_error("Page not found: %s", title);
    return nullptr;
  }
  char *text = nullptr;
  size_t len = 0;
  pagefs_status st = pagefs_read(h->root, p.repo, &text, &len);
  if (st == PAGEFS_NO_MEMORY) {
    replace_slot(&h->page_buf, nullptr);
    set_error("Out of memory reading page");
    return nullptr;
  }
  if (st != PAGEFS_OK) {
    set_error("Page not found: %s", title);
    return nullptr;
  }
  replace_slot(&h->page_buf, text);
  return h->page_buf;
}

// True only when git says for certain that the index holds no such path.
static bool index_lacks(const char *root, const char *repo_path) {
  char *out = nullptr;
  const bool lacks = git_ls_tracked(root, repo_path, &out) == 0 && !out;
  free(out);
  return lacks;
}

static int delete_locked(wikidb_handle *h, const char *title, const page_path *p,
                         const char *identity, const char *message) {
  // A missing page makes rm fail and leaves nothing staged: that is success.
  char rm_message[WIKIDB_ERROR_CAP];
  const int rm_rc = git_rm(h->root, p->repo);
  save_error(rm_message);
  // The file is removed here, through the walk that follows no link.
  pagefs_remove(h->root, p->repo);
  pagefs_sync(h->root, p->repo);  // the removal reaches the disk with its commit
  char buf[WIKIDB_MESSAGE_CAP];
  int rc = commit_with_acceptance(h, commit_message(message, "Delete %s", title, buf), identity);
  // But an rm that failed on a page git still tracks (its index locked by
  // someone else, git not started) leaves the page in the index, and a
  // commit with "nothing to commit" must not pass that off as a deletion.
  if (rc == 0 && rm_rc != 0 && !index_lacks(h->root, p->repo)) {
    restore_error(rm_message);
    rc = -1;
  }
  return rc;
}

extern "C" WIKIDB_API int wikidb_delete_page(wikidb_handle *h, const char *title, const char *author,
                                             const char *message) {
  clear_error();
  if (h) h->last_commit[0] = '\0';
  page_path p;
  if (!h || !title || !*title || !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_delete_page");
    return -1;
  }
  char identity[WIKIDB_AUTHOR_CAP];
  if (!format_author(author, identity)) return -1;
  wiki_lock lock;
  if (writer_begin(h, &lock) != 0) return -1;
  // A case twin is another page; a directory of the page that is a link
  // would let the removal reach a file outside the wiki.
  int rc = -1;
  if (!refuse_case_twin(h->root, &p)) {
    if (!pagefs_parents_safe(h->root, p.repo)) {
      set_error("Invalid parameters to wikidb_delete_page");
    } else {
      const char *paths[] = {p.repo};
      rc = journal_begin(h, 'I', paths, 1);
      if (rc == 0) {
        rc = delete_locked(h, title, &p, identity, message);
        finish_write(h, rc, true);
      }
    }
  }
  writer_end(&lock);
  return rc;
}
