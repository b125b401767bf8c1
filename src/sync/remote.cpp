// Remotes: names, URLs and branches checked before git sees them, stored in
// the repository's own configuration, and the environment of network gits.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "sync/sync.h"

bool sync_name_ok(const char *name) {
  if (!name || !*name || *name == '-' || *name == '.') return false;
  size_t n = 0;
  for (const char *p = name; *p; p++, n++) {
    char c = *p;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return n < SYNC_NAME_CAP;
}

bool sync_branch_ok(const char *b) {
  if (!b || !*b || *b == '-' || *b == '/' || *b == '.' || strlen(b) >= SYNC_BRANCH_CAP - 12)
    return false;
  if (strstr(b, "..") || strstr(b, "//") || strstr(b, "@{") || strstr(b, "/.")) return false;
  size_t n = strlen(b);
  if (b[n - 1] == '/' || b[n - 1] == '.' || (n >= 5 && strcmp(b + n - 5, ".lock") == 0))
    return false;
  for (const char *p = b; *p; p++) {
    unsigned char c = (unsigned char)*p;
    if (c <= ' ' || c == 0x7f || strchr("~^:?*[\\", c)) return false;
  }
  return true;
}

bool sync_url_ok(const char *url) {
  if (!url || !*url || *url == '-' || strlen(url) >= SYNC_URL_CAP) return false;
  for (const char *p = url; *p; p++)
    if ((unsigned char)*p < ' ' || *p == 0x7f) return false;
  return true;
}

bool sync_url_runs_helper(const char *url) {
  // "TRANSPORT::ADDRESS": git hands the address to git-remote-TRANSPORT, and
  // "ext::" runs it as a command.
  const char *sep = strstr(url, "::");
  if (!sep) return false;
  for (const char *p = url; p < sep; p++)
    if (*p == '/' || *p == ':') return false;
  return sep > url;
}

static int config_key(char *out, size_t cap, const char *name, const char *field) {
  int n = snprintf(out, cap, "wikidb-remote.%s.%s", name, field);
  return n > 0 && (size_t)n < cap ? 0 : -1;
}

int sync_remote_store(const wikidb_handle *h, const char *name, const char *url,
                      const char *branch) {
  char key[SYNC_NAME_CAP + 40];
  if (config_key(key, sizeof key, name, "url") != 0 || git_config_set(h->root, key, url) != 0)
    return -1;
  if (config_key(key, sizeof key, name, "branch") != 0 ||
      git_config_set(h->root, key, branch ? branch : "") != 0)
    return -1;
  return 0;
}

// The configuration value (first line), or false when unset.
static bool config_value(const char *root, const char *key, char *out, size_t cap) {
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  char *text = nullptr;
  int rc = git_config_get(root, key, &text);
  restore_error(saved);
  bool ok = rc == 0 && text;
  if (ok) {
    size_t n = strcspn(text, "\r\n");
    ok = n < cap;
    if (ok) {
      memcpy(out, text, n);
      out[n] = '\0';
    }
  } else if (rc == 0) {
    out[0] = '\0';
    ok = true;
  }
  free(text);
  return ok;
}

int sync_remote_load(const wikidb_handle *h, const char *name, sync_remote *r) {
  *r = {};
  snprintf(r->name, sizeof r->name, "%s", name);
  char key[SYNC_URL_CAP + 40];
  char stored[SYNC_URL_CAP] = "";
  config_key(key, sizeof key, name, "url");
  bool have = config_value(h->root, key, stored, sizeof stored);
  if (have) {
    config_key(key, sizeof key, name, "branch");
    if (!config_value(h->root, key, r->branch, sizeof r->branch)) r->branch[0] = '\0';
  }
  // A remote of the user's own configuration, by its name (the stored value
  // may name one, or the name itself does).
  const char *by_name = have ? stored : name;
  char user_url[SYNC_URL_CAP];
  if (sync_name_ok(by_name) && strlen(by_name) + 12 < sizeof key) {
    snprintf(key, sizeof key, "remote.%s.url", by_name);
    if (config_value(h->root, key, user_url, sizeof user_url) && *user_url) {
      snprintf(r->url, sizeof r->url, "%s", user_url);
      have = true;
    }
  }
  if (!*r->url && have) snprintf(r->url, sizeof r->url, "%s", stored);
  if (!have || !*r->url) {
    set_error("Unknown remote: %s", name);
    return -1;
  }
  if (!*r->branch) {
    char *cur = nullptr;
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    int rc = git_current_branch(h->root, &cur);
    restore_error(saved);
    size_t n = cur ? strcspn(cur, "\r\n") : 0;
    if (rc == 0 && n && n < sizeof r->branch) {
      memcpy(r->branch, cur, n);
      r->branch[n] = '\0';
    }
    free(cur);
    if (!*r->branch) {
      set_error("Wiki repository has a detached HEAD");
      return -1;
    }
  }
  if (!sync_url_ok(r->url)) {
    set_error("Invalid remote URL: %s", r->url);
    return -1;
  }
  if (!sync_branch_ok(r->branch)) {
    set_error("Invalid remote branch: %s", r->branch);
    return -1;
  }
  return 0;
}

int sync_env_build(const wikidb_handle *h, bool allow_commands, sync_env *env) {
  *env = {};
  // Pinned through git's environment configuration, for these gits only.
  // ssh keeps the user's own settings, host-key checks included.
  const char *const pinned[][2] = {
      {"protocol.allow", allow_commands ? "always" : "never"},
      {"protocol.file.allow", "always"},
      {"protocol.git.allow", "always"},
      {"protocol.http.allow", "always"},
      {"protocol.https.allow", "always"},
      {"protocol.ssh.allow", "always"},
      {"protocol.ext.allow", allow_commands ? "always" : "never"},
      // A transfer slower than 1 KB/s for a minute is given up.
      {"http.lowSpeedLimit", "1000"},
      {"http.lowSpeedTime", "60"},
      {"core.askPass", ""},
  };
  const size_t n_pinned = sizeof pinned / sizeof pinned[0];
  strbuf text = {};
  size_t count = 0;
  strbuf_append_str(&text, "GIT_TERMINAL_PROMPT=0");
  strbuf_append(&text, "", 1);
  strbuf_append_str(&text, "GIT_ASKPASS=");
  strbuf_append(&text, "", 1);
  strbuf_append_str(&text, "SSH_ASKPASS=");
  strbuf_append(&text, "", 1);
  // Settings the host's environment gives every git ("git -c" of a parent)
  // would be read after the pinned ones and could reopen a transport.
  strbuf_append_str(&text, "GIT_CONFIG_PARAMETERS=");
  strbuf_append(&text, "", 1);
  auto add_pair = [&](const char *key, const char *value) {
    char head[64];
    snprintf(head, sizeof head, "GIT_CONFIG_KEY_%zu=", count);
    strbuf_append_str(&text, head);
    strbuf_append(&text, key, strlen(key) + 1);
    snprintf(head, sizeof head, "GIT_CONFIG_VALUE_%zu=", count);
    strbuf_append_str(&text, head);
    strbuf_append(&text, value, strlen(value) + 1);
    count++;
  };
  // The host's settings first: the pinned ones come later and win.
  for (size_t i = 0; h->sync_config && i < h->sync_config_len;) {
    const char *key = h->sync_config + i;
    const char *value = key + strlen(key) + 1;
    add_pair(key, value);
    i = (size_t)(value - h->sync_config) + strlen(value) + 1;
  }
  for (size_t i = 0; i < n_pinned; i++) add_pair(pinned[i][0], pinned[i][1]);
  char head[64];
  snprintf(head, sizeof head, "GIT_CONFIG_COUNT=%zu", count);
  strbuf_append(&text, head, strlen(head) + 1);
  size_t n_entries = 5 + 2 * count;
  env->entries = static_cast<const char **>(calloc(n_entries + 1, sizeof *env->entries));
  if (!text.data || !env->entries) {
    strbuf_release(&text);
    free(env->entries);
    env->entries = nullptr;
    set_error("Memory allocation failed");
    return -1;
  }
  size_t k = 0;
  for (size_t i = 0; i < text.len && k < n_entries; i += strlen(text.data + i) + 1)
    env->entries[k++] = text.data + i;
  env->text = strbuf_detach(&text);
  return 0;
}

void sync_env_release(sync_env *env) {
  free(env->text);
  free(env->entries);
  *env = {};
}
