#include "store/journal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "store/fs.h"
#include "store/repo_state.h"
#include "store/tree_entry.h"
#include "store/writer_lock.h"

// Relative to the root, so that it is reached through the no-follow walk.
static const char k_journal[] = ".git/wikidb-journal";
static const char k_magic[] = "wikidb-journal 1\n";

int journal_begin(const wikidb_handle *h, char mode, const char *const *repo_paths, size_t n) {
  strbuf b = {};
  const char head[] = {mode, '\n'};
  bool ok = strbuf_append_str(&b, k_magic) == 0 && strbuf_append(&b, head, 2) == 0;
  for (size_t i = 0; ok && i < n; i++) ok = strbuf_append(&b, repo_paths[i], strlen(repo_paths[i]) + 1) == 0;
  // The rename in pagefs_write makes the journal appear whole or not at all.
  ok = ok && pagefs_write(h->root, k_journal, b.data, b.len) == PAGEFS_OK;
  strbuf_release(&b);
  if (!ok) {
    set_error("Failed to write the journal: %s/%s", h->root, k_journal);
    return -1;
  }
  return 0;
}

// Removes the lock files git left behind: those of a dead writer's git, or
// of a git of this write that died (killed, or out of disk) while it held
// them.
static void clear_dead_locks(const wikidb_handle *h) {
  char locks[REPO_LOCKS_MAX][REPO_LOCK_PATH_CAP];
  const size_t n = repo_git_locks(h->root, true, locks);
  int waited = 0;
  for (size_t i = 0; i < n; i++) writer_remove_dead_lock(locks[i], &waited);
}

void journal_end(const wikidb_handle *h) {
  clear_dead_locks(h);
  pagefs_remove(h->root, k_journal);
}

// A journal read back: its mode and the paths it lists (pointing into text).
struct journal_record {
  char *text;
  char mode;
  const char **paths;
  size_t n;
};

static void release(journal_record *r) {
  free(r->text);
  free(r->paths);
  *r = {};
}

// 1 with the record filled, 0 when there is no journal, -1 when it cannot
// be read whole. A journal of another shape is read as listing nothing.
static int read_journal(const wikidb_handle *h, journal_record *r) {
  *r = {};
  char full[WIKIDB_ROOT_CAP + 32];
  snprintf(full, sizeof full, "%s/%s", h->root, k_journal);
  if (!fs_exists(full)) return 0;
  size_t len = 0;
  pagefs_status st = pagefs_read(h->root, k_journal, &r->text, &len);
  if (st == PAGEFS_NO_MEMORY) {
    set_error("Out of memory reading page");
    return -1;
  }
  if (st != PAGEFS_OK) {
    set_error("Failed to read the journal: %s", full);
    return -1;
  }
  const size_t magic = sizeof k_magic - 1;
  if (len < magic + 2 || memcmp(r->text, k_magic, magic) != 0 || r->text[magic + 1] != '\n')
    return 1;
  r->mode = r->text[magic];
  const char *p = r->text + magic + 2, *const end = r->text + len;
  size_t count = 0;
  for (const char *q = p; q < end; q++)
    if (!*q) count++;
  r->paths = static_cast<const char **>(malloc((count ? count : 1) * sizeof *r->paths));
  if (!r->paths) {
    note_out_of_memory();
    set_error("Out of memory reading page");
    release(r);
    return -1;
  }
  while (p < end && r->n < count) {
    r->paths[r->n++] = p;
    p += strlen(p) + 1;
  }
  return 1;
}

// The blob of HEAD at path, from ls-tree's records; null when HEAD has none.
static const char *head_blob(const git_output *tree, const char *path, tree_entry *e) {
  size_t pos = 0;
  const size_t want = strlen(path);
  while (next_tree_entry(tree->out, tree->out_len, &pos, e))
    if (e->path_len == want && memcmp(e->path, path, want) == 0 && strcmp(e->type, "blob") == 0)
      return e->hash;
  return nullptr;
}

// Mode 'T': each file as HEAD has it, through the no-follow walk.
static int restore_files(const wikidb_handle *h, const char *const *paths, size_t n) {
  const int head = git_head_exists(h->root);
  if (head != 0 && head != 1) return -1;
  git_output tree = {};
  if (head == 0 && git_ls_tree(h->root, "HEAD", paths, n, &tree) != 0) {
    git_output_release(&tree);
    return -1;
  }
  int rc = 0;
  for (size_t i = 0; i < n && rc == 0; i++) {
    tree_entry e;
    const char *hash = head == 0 ? head_blob(&tree, paths[i], &e) : nullptr;
    if (!hash) {
      pagefs_remove(h->root, paths[i]);
      continue;
    }
    // A symbolic link of someone's commit is never written to the disk: its
    // target's text would become a file. Its index entry follows below.
    if (strncmp(e.mode, "100", 3) != 0) continue;
    git_output blob = {};
    rc = git_cat_blob(h->root, hash, &blob) == 0 ? 0 : -1;
    if (rc == 0 && pagefs_write(h->root, paths[i], blob.out ? blob.out : "", blob.out_len) != PAGEFS_OK) {
      set_error("Failed to open file for writing: %s/%s", h->root, paths[i]);
      rc = -1;
    }
    git_output_release(&blob);
  }
  git_output_release(&tree);
  return rc;
}

int journal_restore(const wikidb_handle *h, char mode, const char *const *repo_paths, size_t n) {
  if (n == 0) return 0;
  if (mode == 'T' && restore_files(h, repo_paths, n) != 0) return -1;
  return git_reset_paths(h->root, repo_paths, n) == 0 ? 0 : -1;
}

void journal_abandon(const wikidb_handle *h) {
  char failure[WIKIDB_ERROR_CAP];
  save_error(failure);
  journal_record r;
  if (read_journal(h, &r) == 1) {
    clear_dead_locks(h);
    if (journal_restore(h, r.mode, r.paths, r.n) == 0) journal_end(h);
  }
  release(&r);
  restore_error(failure);
}

int journal_recover(const wikidb_handle *h) {
  journal_record r;
  const int found = read_journal(h, &r);
  if (found <= 0) return found;
  clear_dead_locks(h);
  // The dead writer may have been cut off between writing a page's text and
  // renaming it into place.
  for (size_t i = 0; i < r.n; i++) pagefs_remove_temps(h->root, r.paths[i]);
  int rc = journal_restore(h, r.mode, r.paths, r.n);
  if (rc == 0) journal_end(h);
  release(&r);
  return rc;
}
