#include "write/follow.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/clock.h"
#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "git/runner.h"
#include "store/fs.h"

// How long a git that holds the index is waited for, in all.
enum { INDEX_WAIT_MS = 5000 };

// Reads the blobs of entries whose text is not known, with one cat-file.
static int read_missing_texts(const wikidb_handle *h, follow_entry *entries, size_t n,
                              git_output *raw) {
  const unsigned long oom = out_of_memory_count();
  strbuf input = {};
  size_t wanted = 0;
  for (size_t i = 0; i < n; i++)
    if (entries[i].present && !entries[i].content && !entries[i].index_only) {
      strbuf_append(&input, entries[i].hex, strlen(entries[i].hex) + 1);
      wanted++;
    }
  if (!wanted) return 0;
  if (!input.data || out_of_memory_count() != oom) {
    strbuf_release(&input);
    set_error("Memory allocation failed");
    return -1;
  }
  int rc = git_cat_file_batch(h->root, input.data, input.len, raw);
  strbuf_release(&input);
  if (rc != 0) return -1;
  size_t pos = 0;
  for (size_t i = 0; i < n; i++) {
    follow_entry &e = entries[i];
    if (!e.present || e.content || e.index_only) continue;
    // "<hash> blob <size>\n<bytes>\n"
    const char *p = raw->out ? raw->out + pos : nullptr;
    const char *eol = p ? static_cast<const char *>(memchr(p, '\n', raw->out_len - pos)) : nullptr;
    const char *sp = eol ? static_cast<const char *>(memchr(p, ' ', (size_t)(eol - p))) : nullptr;
    sp = sp ? static_cast<const char *>(memchr(sp + 1, ' ', (size_t)(eol - sp - 1))) : nullptr;
    if (!sp) {
      set_error("Unexpected output from git cat-file");
      return -1;
    }
    unsigned long long size = strtoull(sp + 1, nullptr, 10);
    size_t start = (size_t)(eol + 1 - raw->out);
    if (size > raw->out_len - start) {
      set_error("Unexpected output from git cat-file");
      return -1;
    }
    e.content = raw->out + start;
    e.content_len = (size_t)size;
    pos = start + (size_t)size + 1;
  }
  return 0;
}

int follow_entries(const wikidb_handle *h, follow_entry *entries, size_t n, size_t hash_len) {
  git_output raw = {};
  if (read_missing_texts(h, entries, n, &raw) != 0) {
    git_output_release(&raw);
    return -1;
  }
  int rc = 0;
  // A line cut by a failed append would set or remove another entry.
  const unsigned long oom = out_of_memory_count();
  strbuf info = {};
  char zeros[HASH_HEX_CAP];
  memset(zeros, '0', 2 * hash_len);
  zeros[2 * hash_len] = '\0';
  for (size_t i = 0; i < n; i++) {
    follow_entry &e = entries[i];
    if (e.present) {
      if (!e.index_only && pagefs_write(h->root, e.repo, e.content, e.content_len) != PAGEFS_OK) {
        set_error("Failed to write content to: %s/%s", h->root, e.repo);
        rc = -1;
      }
      strbuf_append_str(&info, e.mode);
      strbuf_append(&info, " ", 1);
      strbuf_append_str(&info, e.hex);
    } else {
      pagefs_remove(h->root, e.repo);
      strbuf_append_str(&info, "0 ");
      strbuf_append_str(&info, zeros);
    }
    strbuf_append(&info, "\t", 1);
    strbuf_append(&info, e.repo, strlen(e.repo) + 1);
  }
  git_output_release(&raw);
  if (!info.data || out_of_memory_count() != oom) {
    strbuf_release(&info);
    set_error("Memory allocation failed");
    return -1;
  }
  // A person's git may hold the index for a moment: wait for it as the
  // writer lock does, then give up with git's message.
  int index_rc = -1, waited = 0;
  for (int pause = 5;; pause *= 2) {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    index_rc = git_update_index_info(h->root, info.data, info.len);
    if (index_rc == 0) restore_error(saved);
    if (index_rc == 0 || waited >= INDEX_WAIT_MS) break;
    if (pause > 250) pause = 250;
    sleep_us(pause * 1000L);
    waited += pause;
  }
  strbuf_release(&info);
  return rc == 0 && index_rc == 0 ? 0 : -1;
}
