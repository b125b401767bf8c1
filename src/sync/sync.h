// Sync of a wiki with a remote repository: fetch into a private ref,
// integrate in objects (fast-forward or a merge made by merge-tree), publish
// by compare-and-swap, push; never a merge or rebase in the work tree.
#pragma once

#include <stddef.h>

#include "store/handle.h"

enum { SYNC_URL_CAP = 1024, SYNC_NAME_CAP = 65, SYNC_BRANCH_CAP = 256 };

// Rounds of fetch-integrate-push when the push is refused because the
// remote moved meanwhile.
enum { SYNC_ROUNDS = 8 };

struct sync_remote {
  char name[SYNC_NAME_CAP];
  char url[SYNC_URL_CAP];
  char branch[SYNC_BRANCH_CAP];
};

// A remote name the library accepts: letters, digits, '.', '_' and '-',
// not starting with '-' or '.', at most 64 bytes.
bool sync_name_ok(const char *name);
// A branch name git would take, never an option.
bool sync_branch_ok(const char *branch);
// A URL that can never be taken for an option, without control bytes.
bool sync_url_ok(const char *url);
// Whether url names a transport through a remote helper ("X::ADDRESS"),
// which may run commands ("ext::").
bool sync_url_runs_helper(const char *url);

// Stores the remote. 0, or -1 with the message.
int sync_remote_store(const wikidb_handle *h, const char *name, const char *url,
                      const char *branch);
// Reads the remote: the stored one, or a remote of the user's git config
// by that name. 0, or -1 with the message.
int sync_remote_load(const wikidb_handle *h, const char *name, sync_remote *r);

// The environment entries of every git that reaches the network: no
// terminal prompt, the transports pinned (command-running ones only when
// allowed), time bounds on slow transfers, then the handle's own settings.
struct sync_env {
  char *text;              // the entries, NUL-separated
  const char **entries;    // null-terminated, pointing into text
};
int sync_env_build(const wikidb_handle *h, bool allow_commands, sync_env *env);
void sync_env_release(sync_env *env);

// One sync: 0 (h->sync_buf holds the report), WIKIDB_CONFLICT (the report
// lists the conflicts; nothing changed locally), or -1 with the message.
int sync_run(wikidb_handle *h, const sync_remote *r, int flags);
