#include "write/journal_seam.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "store/fs.h"
#include "write/follow.h"

// "T", then each repository path, every one ended by a NUL.
static const char s_journal[] = ".git/wikidb-write-journal";

int write_journal_begin(const wikidb_handle *h, const char *const *repo_paths, size_t n) {
  strbuf text = {};
  strbuf_append(&text, "T", 2);
  for (size_t i = 0; i < n; i++) strbuf_append(&text, repo_paths[i], strlen(repo_paths[i]) + 1);
  int rc = text.data ? 0 : -1;
  if (rc == 0 && pagefs_write(h->root, s_journal, text.data, text.len) != PAGEFS_OK) {
    set_error("Failed to write content to: %s/%s", h->root, s_journal);
    rc = -1;
  } else if (rc != 0) {
    set_error("Memory allocation failed");
  }
  strbuf_release(&text);
  return rc;
}

void write_journal_end(const wikidb_handle *h) { pagefs_remove(h->root, s_journal); }

// A writer that died holding git's locks leaves them behind, and every later
// git would refuse to run. Only called when a record proves that our writer
// died: we hold the writer lock it held.
static void clear_dead_writer_locks(const wikidb_handle *h) {
  pagefs_remove(h->root, ".git/index.lock");
  pagefs_remove(h->root, ".git/HEAD.lock");
  char *head = nullptr;
  size_t len = 0;
  if (pagefs_read(h->root, ".git/HEAD", &head, &len) != PAGEFS_OK) return;
  if (len > 5 && strncmp(head, "ref: ", 5) == 0) {
    size_t n = strcspn(head + 5, "\r\n");
    strbuf lock = {};
    strbuf_append_str(&lock, ".git/");
    strbuf_append(&lock, head + 5, n);
    strbuf_append_str(&lock, ".lock");
    // The branch name comes from git's own file; still, nothing outside .git.
    if (lock.data && !strstr(lock.data, "..")) pagefs_remove(h->root, lock.data);
    strbuf_release(&lock);
  }
  free(head);
}

int write_journal_recover(const wikidb_handle *h) {
  char *text = nullptr;
  size_t len = 0;
  if (pagefs_read(h->root, s_journal, &text, &len) != PAGEFS_OK) return 0;
  clear_dead_writer_locks(h);
  size_t n = 0;
  for (size_t i = 2; i < len; i++)
    if (!text[i]) n++;
  const char **paths = static_cast<const char **>(calloc(n ? n : 1, sizeof *paths));
  int rc = -1;
  if (paths && len >= 2 && text[0] == 'T' && text[1] == '\0') {
    size_t k = 0;
    for (size_t i = 2; i < len && k < n; i += strlen(text + i) + 1)
      if (text[i]) paths[k++] = text + i;
    rc = follow_head(h, paths, k);
  } else if (paths) {
    rc = 0;  // not a record this writer made: nothing it can finish
  }
  if (rc == 0) write_journal_end(h);
  free(paths);
  free(text);
  return rc;
}
