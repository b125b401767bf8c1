// The write API's exported functions: parameter checks and result slots;
// the work is done in commit_ops.
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "store/author.h"
#include "store/handle.h"
#include "store/paths.h"
#include "write/commit_ops.h"
#include "write/ops.h"

static const char s_no_conflict[] = "{\"merged\":false,\"conflicts\":[]}";

static void release_batch(wikidb_handle *h) {
  if (!h->batch) return;
  ops_release(h->batch);
  free(h->batch);
  h->batch = nullptr;
}

static bool title_ok(const wikidb_handle *h, const char *title) {
  page_path p;
  return title && *title && page_paths(h->root, title, &p);
}

// The checks every write shares; leaves the message and returns false.
static bool write_entry(wikidb_handle *h, int flags) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return false;
  }
  h->last_commit[0] = '\0';
  replace_slot(&h->conflict_buf, nullptr);
  if (flags & ~WIKIDB_MERGE) {
    set_error("Invalid flags");
    return false;
  }
  return true;
}

static int run_ops(wikidb_handle *h, write_ops *ops, const char *author, const char *author_date,
                   const char *committer, const char *committer_date, const char *message,
                   int flags) {
  char author_id[WIKIDB_AUTHOR_CAP], committer_id[WIKIDB_AUTHOR_CAP];
  if (!format_author(author, author_id) || (committer && !format_author(committer, committer_id)))
    return -1;
  const commit_who who = {author_id, author_date && *author_date ? author_date : nullptr,
                          committer ? committer_id : nullptr,
                          committer_date && *committer_date ? committer_date : nullptr};
  return commit_ops(h, ops, &who, message, flags);
}

extern "C" WIKIDB_API const char *wikidb_page_revision(wikidb_handle *h, const char *title) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return nullptr;
  }
  page_path p;
  if (!title || !*title || !page_paths(h->root, title, &p)) {
    set_error("Invalid title");
    return nullptr;
  }
  char rev[HASH_HEX_CAP];
  if (page_revision_at(h->root, "HEAD", p.repo, rev) != 0) {
    // A wiki without commits has no revisions yet.
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    char *head = nullptr;
    int born = git_rev_parse_head(h->root, &head);
    free(head);
    if (born != 1) {
      restore_error(saved);
      return nullptr;
    }
    clear_error();
    rev[0] = '\0';
  }
  size_t n = strlen(rev);
  char *copy = static_cast<char *>(malloc(n + 1));
  if (!copy) {
    note_out_of_memory();
    set_error("Memory allocation failed");
    return nullptr;
  }
  memcpy(copy, rev, n + 1);
  replace_slot(&h->page_revision_buf, copy);
  return copy;
}

extern "C" WIKIDB_API int wikidb_save_page_if(wikidb_handle *h, const char *title,
                                              const char *content, const char *author,
                                              const char *message, const char *expected_revision,
                                              int flags) {
  if (!write_entry(h, flags)) return -1;
  if (!title_ok(h, title)) {
    set_error("Invalid title");
    return -1;
  }
  if (!expected_is_valid(expected_revision)) {
    set_error("Invalid expected revision");
    return -1;
  }
  write_ops ops = {};
  int rc = ops_add(&ops, OP_SAVE, title, nullptr, content ? content : "", expected_revision, h->root);
  if (rc == 0) rc = run_ops(h, &ops, author, nullptr, nullptr, nullptr, message, flags);
  ops_release(&ops);
  return rc;
}

extern "C" WIKIDB_API const char *wikidb_last_commit(wikidb_handle *h) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return "";
  }
  return h->last_commit;
}

extern "C" WIKIDB_API const char *wikidb_conflict_json(wikidb_handle *h) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return s_no_conflict;
  }
  return h->conflict_buf ? h->conflict_buf : s_no_conflict;
}

extern "C" WIKIDB_API int wikidb_rename_page(wikidb_handle *h, const char *from, const char *to,
                                             const char *author, const char *message) {
  if (!write_entry(h, 0)) return -1;
  if (!title_ok(h, from) || !title_ok(h, to)) {
    set_error("Invalid title");
    return -1;
  }
  write_ops ops = {};
  int rc = ops_add(&ops, OP_RENAME, from, to, nullptr, nullptr, h->root);
  if (rc == 0) rc = run_ops(h, &ops, author, nullptr, nullptr, nullptr, message, 0);
  ops_release(&ops);
  return rc;
}

extern "C" WIKIDB_API int wikidb_begin(wikidb_handle *h) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  if (h->batch) {
    set_error("A batch is already begun on this handle");
    return -1;
  }
  h->batch = static_cast<write_ops *>(calloc(1, sizeof *h->batch));
  if (!h->batch) {
    note_out_of_memory();
    set_error("Memory allocation failed");
    return -1;
  }
  h->release_batch = release_batch;
  return 0;
}

// The checks every stage function shares.
static bool stage_entry(wikidb_handle *h, const char *title, const char *to, bool has_to,
                        const char *expected) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return false;
  }
  if (!h->batch) {
    set_error("No batch begun on this handle");
    return false;
  }
  if (!title_ok(h, title) || (has_to && !title_ok(h, to))) {
    set_error("Invalid title");
    return false;
  }
  if (!expected_is_valid(expected)) {
    set_error("Invalid expected revision");
    return false;
  }
  return true;
}

extern "C" WIKIDB_API int wikidb_stage_save(wikidb_handle *h, const char *title,
                                            const char *content, const char *expected_revision) {
  if (!stage_entry(h, title, nullptr, false, expected_revision)) return -1;
  return ops_add(h->batch, OP_SAVE, title, nullptr, content ? content : "", expected_revision,
                 h->root);
}

extern "C" WIKIDB_API int wikidb_stage_delete(wikidb_handle *h, const char *title,
                                              const char *expected_revision) {
  if (!stage_entry(h, title, nullptr, false, expected_revision)) return -1;
  return ops_add(h->batch, OP_DELETE, title, nullptr, nullptr, expected_revision, h->root);
}

extern "C" WIKIDB_API int wikidb_stage_rename(wikidb_handle *h, const char *from, const char *to,
                                              const char *expected_revision) {
  if (!stage_entry(h, from, to, true, expected_revision)) return -1;
  return ops_add(h->batch, OP_RENAME, from, to, nullptr, expected_revision, h->root);
}

extern "C" WIKIDB_API int wikidb_commit_as(wikidb_handle *h, const char *author,
                                           const char *author_date, const char *committer,
                                           const char *committer_date, const char *message,
                                           int flags) {
  if (!write_entry(h, flags)) return -1;
  if (!h->batch) {
    set_error("No batch begun on this handle");
    return -1;
  }
  int rc = 0;
  if (h->batch->n)
    rc = run_ops(h, h->batch, author, author_date, committer && *committer ? committer : nullptr,
                 committer_date, message, flags);
  release_batch(h);
  return rc;
}

extern "C" WIKIDB_API int wikidb_commit(wikidb_handle *h, const char *author, const char *message,
                                        int flags) {
  return wikidb_commit_as(h, author, nullptr, nullptr, nullptr, message, flags);
}

extern "C" WIKIDB_API int wikidb_abort(wikidb_handle *h) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  if (!h->batch) {
    set_error("No batch begun on this handle");
    return -1;
  }
  release_batch(h);
  return 0;
}
