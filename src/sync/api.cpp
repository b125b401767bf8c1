// The sync's exported functions: parameter checks and the report slot; the
// work is done in sync.cpp.
#include <stdlib.h>
#include <string.h>
#include <stdio.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "store/fs.h"
#include "store/handle.h"
#include "store/paths.h"
#include "store/writer_lock.h"
#include "write/tree_edit.h"
#include "sync/record.h"
#include "sync/sync.h"

extern "C" WIKIDB_API int wikidb_remote_set(wikidb_handle *h, const char *name, const char *url,
                                            const char *branch) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  if (!sync_name_ok(name)) {
    set_error("Invalid remote name");
    return -1;
  }
  if (!sync_url_ok(url)) {
    set_error("Invalid remote URL: %s", url ? url : "");
    return -1;
  }
  if (branch && *branch && !sync_branch_ok(branch)) {
    set_error("Invalid remote branch: %s", branch);
    return -1;
  }
  return sync_remote_store(h, name, url, branch);
}

// "protocol." in any letter case, as git reads section names.
static bool is_protocol_key(const char *key) {
  static const char prefix[] = "protocol.";
  for (size_t i = 0; i + 1 < sizeof prefix; i++) {
    char c = key[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

static bool key_ok(const char *key) {
  if (!key || !*key || *key == '-' || *key == '.') return false;
  const char *dot = strchr(key, '.');
  if (!dot || !dot[1] || key[strlen(key) - 1] == '.') return false;
  for (const char *p = key; *p; p++)
    if ((unsigned char)*p < ' ' || *p == 0x7f || *p == '=') return false;
  return !is_protocol_key(key);
}

extern "C" WIKIDB_API int wikidb_sync_config(wikidb_handle *h, const char *key,
                                             const char *value) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  if (!key_ok(key) || !value) {
    set_error("Invalid setting");
    return -1;
  }
  size_t kl = strlen(key) + 1, vl = strlen(value) + 1;
  char *grown = static_cast<char *>(realloc(h->sync_config, h->sync_config_len + kl + vl));
  if (!grown) {
    note_out_of_memory();
    set_error("Memory allocation failed");
    return -1;
  }
  memcpy(grown + h->sync_config_len, key, kl);
  memcpy(grown + h->sync_config_len + kl, value, vl);
  h->sync_config = grown;
  h->sync_config_len += kl + vl;
  return 0;
}

extern "C" WIKIDB_API int wikidb_sync(wikidb_handle *h, const char *remote, int flags) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  replace_slot(&h->sync_buf, nullptr);
  const int known = WIKIDB_SYNC_PULL_ONLY | WIKIDB_SYNC_PUSH_ONLY | WIKIDB_SYNC_ALLOW_UNRELATED |
                    WIKIDB_SYNC_ALLOW_COMMANDS;
  if ((flags & ~known) ||
      ((flags & WIKIDB_SYNC_PULL_ONLY) && (flags & WIKIDB_SYNC_PUSH_ONLY))) {
    set_error("Invalid flags");
    return -1;
  }
  const char *name = remote && *remote ? remote : "origin";
  if (!sync_name_ok(name)) {
    set_error("Unknown remote: %s", name);
    return -1;
  }
  sync_remote r;
  if (sync_remote_load(h, name, &r) != 0) return -1;
  return sync_run(h, &r, flags);
}

extern "C" WIKIDB_API const char *wikidb_sync_report(wikidb_handle *h) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return nullptr;
  }
  return h->sync_buf;
}

extern "C" WIKIDB_API const char *wikidb_sync_json(wikidb_handle *h, const char *remote,
                                                   int flags) {
  int rc = wikidb_sync(h, remote, flags);
  return rc == -1 ? nullptr : h->sync_buf;
}

extern "C" WIKIDB_API int wikidb_sync_resolve(wikidb_handle *h, const char *remote,
                                              const char *title, const char *content,
                                              const char *author, const char *message) {
  clear_error();
  if (!h) {
    set_error("Invalid handle");
    return -1;
  }
  const char *name = remote && *remote ? remote : "origin";
  page_path p;
  if (!sync_name_ok(name) || !title || !*title || !page_paths(h->root, title, &p)) {
    set_error(!sync_name_ok(name) ? "Unknown remote: %s" : "Invalid title", name);
    return -1;
  }
  char file[SYNC_NAME_CAP + 40];
  record_file(name, file, sizeof file);
  char *data = nullptr;
  size_t len = 0;
  record_entry *rec = nullptr;
  size_t n = 0;
  const record_entry *hit = nullptr;
  if (pagefs_read(h->root, file, &data, &len) == PAGEFS_OK &&
      record_parse(data, len, &rec, &n) == 0) {
    for (size_t i = 0; i < n && !hit; i++)
      if (!strcmp(rec[i].path, p.repo)) hit = &rec[i];
  }
  int rc = -1;
  if (!hit) {
    set_error("No sync conflict recorded for page: %s", title);
  } else {
    // The conditional save: on top of the page as the report showed it here.
    rc = wikidb_save_page_if(h, title, content, author, message, hit->ours, 0);
    if (rc == 0) {
      char by[sizeof h->last_commit];
      snprintf(by, sizeof by, "%s", *h->last_commit ? h->last_commit : hit->ours);
      char ours[HASH_HEX_CAP], theirs[HASH_HEX_CAP];
      snprintf(ours, sizeof ours, "%s", hit->ours);
      snprintf(theirs, sizeof theirs, "%s", hit->theirs);
      free(rec);
      free(data);
      rec = nullptr;
      data = nullptr;
      n = 0;
      // The record is read and written again under the writer lock, as a
      // sync writes it: a resolution is never lost to a sync running now.
      wiki_lock lock;
      rc = writer_begin(h, &lock);
      if (rc == 0) {
        if (pagefs_read(h->root, file, &data, &len) != PAGEFS_OK ||
            record_parse(data, len, &rec, &n) != 0)
          n = 0;
        strbuf next = {};
        bool found = false;
        for (size_t i = 0; i < n; i++) {
          bool same = !strcmp(rec[i].path, p.repo) && !strcmp(ours, rec[i].ours) &&
                      !strcmp(theirs, rec[i].theirs);
          found = found || same;
          record_append(&next, rec[i].path, rec[i].ours, rec[i].theirs,
                        same ? by : rec[i].resolved);
        }
        // A record replaced meanwhile (a newer report) keeps the page to be
        // reported again, never taken for resolved.
        if (found && (!next.data || pagefs_write(h->root, file, next.data, next.len) != PAGEFS_OK)) {
          set_error("Failed to write the conflict record: %s/%s", h->root, file);
          rc = -1;
        }
        strbuf_release(&next);
        writer_end(&lock);
      }
    }
  }
  free(rec);
  free(data);
  return rc;
}
