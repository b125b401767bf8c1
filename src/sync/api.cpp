// The sync's exported functions: parameter checks and the report slot; the
// work is done in sync.cpp.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "frame/error.h"
#include "store/handle.h"
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

static bool key_ok(const char *key) {
  if (!key || !*key || *key == '-' || *key == '.') return false;
  const char *dot = strchr(key, '.');
  if (!dot || !dot[1] || key[strlen(key) - 1] == '.') return false;
  for (const char *p = key; *p; p++)
    if ((unsigned char)*p < ' ' || *p == 0x7f || *p == '=') return false;
  return strncasecmp(key, "protocol.", 9) != 0;
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
