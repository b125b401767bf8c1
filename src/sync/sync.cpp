// One sync: ls-remote, fetch into refs/wikidb/fetch/NAME, integrate under
// the writer lock (fast-forward or a merge built in objects, published by a
// compare-and-swap of the branch, the changed pages' files and index entries
// then brought in line), push, and again when the remote moved meanwhile.
#include <chrono>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/clock.h"
#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "reports/json.h"
#include "store/commit.h"
#include "store/fs.h"
#include "store/git_path_rules.h"
#include "store/journal.h"
#include "store/writer_lock.h"
#include "sync/merge_tree.h"
#include "sync/record.h"
#include "sync/sync.h"
#include "write/commit_ops.h"
#include "write/conflict.h"
#include "write/follow.h"

namespace {

// A hash from git's first line, or false.
bool take_hash(const char *text, char out[HASH_HEX_CAP]) {
  size_t n = text ? hex_run(text, strlen(text)) : 0;
  if (n != 40 && n != 64) return false;
  memcpy(out, text, n);
  out[n] = '\0';
  return true;
}

// The commit rev names, "" when none. 0, or -1 with git's message.
int resolve_commit(const char *root, const char *rev, char out[HASH_HEX_CAP]) {
  git_output res;
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  int rc = git_resolve_commit(root, rev, &res);
  out[0] = '\0';
  if (rc == 0 && !take_hash(res.out, out)) rc = 2;  // a status 0 without a hash
  git_output_release(&res);
  if (rc == 1) {
    restore_error(saved);
    return 0;
  }
  if (rc != 0 && rc != -1) set_error("Unexpected output from git rev-parse");
  return rc == 0 ? 0 : -1;
}

// Exit status 0/1 of a yes-or-no git, the error slot untouched for 1.
int ask(int rc, const char *saved) {
  if (rc == 1) restore_error(saved);
  return rc;
}

// Sets one of the sync's private refs. Call under the writer lock: only its
// holders write these refs, so a lock file of the ref found then was left by
// a sync that died (killed while its update-ref ran), and would fail every
// later sync.
int set_private_ref(const wikidb_handle *h, const char *ref, const char *hash) {
  char lock_path[WIKIDB_ROOT_CAP + SYNC_NAME_CAP + 64];
  int n = snprintf(lock_path, sizeof lock_path, "%s/.git/%s.lock", h->root, ref);
  int waited = 0;
  if (n > 0 && (size_t)n < sizeof lock_path) writer_remove_dead_lock(lock_path, &waited);
  return git_update_ref_plain(h->root, ref, hash);
}

struct report {
  const char *state;
  long ahead, behind;
  bool rewritten;
  strbuf pages;      // JSON array items, comma-separated
  strbuf conflicts;  // likewise
  size_t n_pages, n_conflicts;
};

void add_page(report *rep, const char *repo) {
  size_t n = strlen(repo);
  if (n < 12 || strncmp(repo, "pages/", 6) != 0 || strcmp(repo + n - 5, ".wiki") != 0) return;
  char *name = static_cast<char *>(malloc(n));
  if (!name) {
    note_out_of_memory();
    return;
  }
  memcpy(name, repo + 6, n - 11);
  name[n - 11] = '\0';
  if (rep->n_pages++) strbuf_append(&rep->pages, ",", 1);
  strbuf_append_json_str(&rep->pages, name);
  free(name);
}

// The changed paths between two commits as follow entries (old "" for every
// file of new). entries point into raw. 0 or -1.
int changed_entries(const char *root, const char *old_commit, const char *new_commit,
                    git_output *raw, follow_entry **out, size_t *n_out) {
  *out = nullptr;
  *n_out = 0;
  if (git_diff_raw(root, *old_commit ? old_commit : nullptr, new_commit, raw) != 0) return -1;
  size_t cap = 0;
  const char *p = raw->out, *end = raw->out ? raw->out + raw->out_len : nullptr;
  while (p && p < end) {
    const char *z = static_cast<const char *>(memchr(p, '\0', (size_t)(end - p)));
    if (!z) break;
    follow_entry e = {};
    const char *path = nullptr;
    if (*old_commit) {
      // ":OLDMODE NEWMODE OLDHASH NEWHASH STATUS\0PATH\0"
      if (*p != ':') break;
      const char *f[5];
      const char *q = p + 1;
      for (int i = 0; i < 5; i++) {
        f[i] = q;
        q = static_cast<const char *>(memchr(q, i < 4 ? ' ' : '\0', (size_t)(z + 1 - q)));
        if (!q) break;
        q++;
      }
      if (!q) break;
      path = z + 1;
      const char *pz = path < end ? static_cast<const char *>(memchr(path, '\0', (size_t)(end - path))) : nullptr;
      if (!pz) break;
      size_t ml = (size_t)(f[2] - f[1] - 1), hl = (size_t)(f[4] - f[3] - 1);
      e.present = f[4][0] != 'D';
      if (ml >= sizeof e.mode || hl >= sizeof e.hex) break;
      memcpy(e.mode, f[1], ml);
      memcpy(e.hex, f[3], hl);
      p = pz + 1;
    } else {
      // "MODE TYPE HASH\tPATH\0"
      const char *sp1 = static_cast<const char *>(memchr(p, ' ', (size_t)(z - p)));
      const char *sp2 = sp1 ? static_cast<const char *>(memchr(sp1 + 1, ' ', (size_t)(z - sp1 - 1))) : nullptr;
      const char *tab = sp2 ? static_cast<const char *>(memchr(sp2, '\t', (size_t)(z - sp2))) : nullptr;
      if (!tab) break;
      size_t ml = (size_t)(sp1 - p), hl = (size_t)(tab - sp2 - 1);
      if (ml >= sizeof e.mode || hl >= sizeof e.hex) break;
      memcpy(e.mode, p, ml);
      memcpy(e.hex, sp2 + 1, hl);
      e.present = true;
      path = tab + 1;
      p = z + 1;
    }
    // Links and submodules never reach the disk, but their index entries
    // follow: left behind, the next commit of the index would undo them.
    e.index_only = e.present && strncmp(e.mode, "1006", 4) != 0 && strncmp(e.mode, "1007", 4) != 0;
    // A path git itself would refuse (".git", "..", their other spellings)
    // can only come from a crafted commit: it would write into the
    // repository or outside the wiki.
    if (!git_accepts_path(path)) {
      set_error("The remote's commit holds a path git refuses: %s", path);
      return -1;
    }
    e.repo = path;
    if (*n_out == cap) {
      cap = cap ? 2 * cap : 16;
      follow_entry *grown = static_cast<follow_entry *>(realloc(*out, cap * sizeof **out));
      if (!grown) {
        set_error("Memory allocation failed");
        return -1;
      }
      *out = grown;
    }
    (*out)[(*n_out)++] = e;
  }
  if (p && p < end) {
    set_error("Unexpected output from git diff-tree");
    return -1;
  }
  return 0;
}

// Publishes new_commit in place of old (compare-and-swap of the branch),
// then brings the changed pages' files and index entries in line, journalled
// so that a sync killed in between is repaired by the next writer.
// 0, 1 when the branch moved meanwhile (nothing done), or -1.
int publish(wikidb_handle *h, const char *old_commit, const char *new_commit, report *rep) {
  git_output raw = {};
  follow_entry *entries = nullptr;
  size_t n = 0;
  int rc = changed_entries(h->root, old_commit, new_commit, &raw, &entries, &n);
  const char **paths = rc == 0 ? static_cast<const char **>(calloc(n + 1, sizeof *paths)) : nullptr;
  if (rc == 0 && !paths) {
    set_error("Memory allocation failed");
    rc = -1;
  }
  for (size_t i = 0; rc == 0 && i < n; i++) paths[i] = entries[i].repo;
  if (rc == 0) rc = journal_begin(h, 'T', paths, n);
  if (rc == 0) {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    if (git_update_ref_cas(h->root, new_commit, old_commit, "wikidb: sync") != 0) {
      journal_end(h);
      restore_error(saved);
      rc = 1;
    } else {
      // A link named like a page is no page: it is never on the disk here.
      for (size_t i = 0; i < n; i++)
        if (!entries[i].index_only) add_page(rep, entries[i].repo);
      size_t hash_len = strlen(new_commit) / 2;
      // The commit stands either way; pages left behind are brought in line
      // by the next writer, through the journal.
      if (n == 0 || follow_entries(h, entries, n, hash_len) == 0) journal_end(h);
      restore_error(saved);
    }
  }
  free(paths);
  free(entries);
  git_output_release(&raw);
  return rc;
}

// The page's blob at rev, or null data when it is absent there.
struct blob_text {
  git_output raw;
  bool present;
};

void read_blob(const char *root, const char *rev, const char *repo, blob_text *b) {
  b->raw = {};
  b->present = false;
  if (!*rev) return;
  char object[HASH_HEX_CAP + 700];
  snprintf(object, sizeof object, "%s:%s", rev, repo);
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  b->present = git_cat_blob(root, object, &b->raw) == 0;
  restore_error(saved);
}

void append_blob(strbuf *json, const char *key, const blob_text &b) {
  strbuf_append_str(json, key);
  if (b.present)
    strbuf_append_json_bytes(json, b.raw.out ? b.raw.out : "", b.raw.out_len);
  else
    strbuf_append_str(json, "null");
}

// The host's resolution of path, when the record holds one that still
// stands: the remote's side unchanged since the report (theirs), and the
// page here descending from the resolution's commit.
const record_entry *resolved_by_host(const char *root, const record_entry *rec, size_t n,
                                     const char *path, const char *ours_rev,
                                     const char *theirs_rev) {
  for (size_t i = 0; i < n; i++) {
    if (strcmp(rec[i].path, path) != 0) continue;
    if (strcmp(rec[i].theirs, theirs_rev) != 0 || !*rec[i].resolved) return nullptr;
    if (!strcmp(rec[i].resolved, ours_rev)) return &rec[i];
    if (!*ours_rev) return nullptr;
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    int a = git_is_ancestor(root, rec[i].resolved, ours_rev);
    restore_error(saved);
    return a == 0 ? &rec[i] : nullptr;
  }
  return nullptr;
}

// Both sides moved: merge in objects. 0 with merged_commit set, or
// WIKIDB_CONFLICT (the report filled), or -1.
int merge_sides(wikidb_handle *h, const sync_remote *r, const char *local, const char *remote,
                bool allow_unrelated, report *rep, char merged_commit[HASH_HEX_CAP]) {
  git_output raw = {};
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  int mt = git_merge_tree(h->root, local, remote, allow_unrelated, &raw);
  if (mt != 0 && mt != 1) {
    git_output_release(&raw);
    return -1;
  }
  restore_error(saved);
  merge_tree_result res;
  if (parse_merge_tree(raw.out, raw.out_len, &res) != 0) {
    git_output_release(&raw);
    set_error("Unexpected output from git merge-tree");
    return -1;
  }
  git_output_release(&raw);
  char tree[HASH_HEX_CAP];
  snprintf(tree, sizeof tree, "%s", res.tree);
  int rc = 0;
  if (mt == 1 && res.n_paths == 0) {
    set_error("Unexpected output from git merge-tree");
    rc = -1;
  }
  if (rc == 0 && res.n_paths) {
    char base[HASH_HEX_CAP] = "";
    char *mb = nullptr;
    save_error(saved);
    if (git_merge_base(h->root, local, remote, &mb) == 0) take_hash(mb, base);
    restore_error(saved);
    free(mb);
    char record_name[SYNC_NAME_CAP + 40];
    record_file(r->name, record_name, sizeof record_name);
    char *record = nullptr;
    size_t record_len = 0;
    record_entry *rec = nullptr;
    size_t n_rec = 0;
    // A record that cannot be read counts as empty: every page is reported.
    if (pagefs_read(h->root, record_name, &record, &record_len) == PAGEFS_OK)
      record_parse(record, record_len, &rec, &n_rec);
    strbuf info = {}, next_record = {};
    size_t unresolved = 0;
    for (size_t i = 0; i < res.n_paths && rc == 0; i++) {
      const char *path = res.paths[i];
      char rb[HASH_HEX_CAP] = "", ro[HASH_HEX_CAP] = "", rt[HASH_HEX_CAP] = "";
      if ((*base && page_revision_at(h->root, base, path, rb) != 0) ||
          page_revision_at(h->root, local, path, ro) != 0 ||
          page_revision_at(h->root, remote, path, rt) != 0) {
        rc = -1;
        break;
      }
      if (const record_entry *done = resolved_by_host(h->root, rec, n_rec, path, ro, rt)) {
        // Kept: another page may still hold this merge back.
        record_append(&next_record, done->path, done->ours, done->theirs, done->resolved);
        // Resolved by the host since the report: the page as the wiki holds it.
        git_output entry = {};
        const char *one[] = {path};
        if (git_ls_tree(h->root, local, one, 1, &entry) != 0) {
          git_output_release(&entry);
          rc = -1;
          break;
        }
        // "MODE TYPE HASH\tPATH": the page as the wiki holds it, or its absence.
        const char *tab = entry.out ? static_cast<const char *>(memchr(entry.out, '\t', entry.out_len)) : nullptr;
        const char *sp = tab ? static_cast<const char *>(memchr(entry.out, ' ', (size_t)(tab - entry.out))) : nullptr;
        const char *sp2 = tab ? tab : nullptr;
        while (sp2 && sp2 > entry.out && sp2[-1] != ' ') sp2--;
        if (entry.out && entry.out_len && (!sp || !sp2 || sp2 <= sp + 1)) {
          set_error("Unexpected output from git ls-tree");
          rc = -1;
        } else if (entry.out && entry.out_len) {
          strbuf_append(&info, entry.out, (size_t)(sp - entry.out));
          strbuf_append_str(&info, " ");
          strbuf_append(&info, sp2, (size_t)(tab - sp2));
        } else {
          strbuf_append_str(&info, "0 ");
          for (size_t z = strlen(local); z > 0; z--) strbuf_append(&info, "0", 1);
        }
        strbuf_append(&info, "\t", 1);
        strbuf_append(&info, path, strlen(path) + 1);
        git_output_release(&entry);
        continue;
      }
      unresolved++;
      record_append(&next_record, path, ro, rt, "");
      blob_text tb, to, tt;
      read_blob(h->root, base, path, &tb);
      read_blob(h->root, local, path, &to);
      read_blob(h->root, remote, path, &tt);
      git_output merged = {};
      bool clean = false, have_merge = false;
      if (to.present && tt.present) {
        save_error(saved);
        have_merge = merge_page_texts(h->root, to.raw.out, to.raw.out_len, tb.raw.out,
                                      tb.raw.out_len, tt.raw.out, tt.raw.out_len, &merged, &clean);
        restore_error(saved);
      }
      strbuf *j = &rep->conflicts;
      if (rep->n_conflicts++) strbuf_append(j, ",", 1);
      size_t pl = strlen(path);
      bool page = pl > 11 && !strncmp(path, "pages/", 6) && !strcmp(path + pl - 5, ".wiki");
      strbuf_append_str(j, "{\"page\":");
      if (page)
        strbuf_append_json_bytes(j, path + 6, pl - 11);
      else
        strbuf_append_json_str(j, path);
      strbuf_append_str(j, ",\"path\":");
      strbuf_append_json_str(j, path);
      strbuf_append_str(j, ",\"base\":");
      strbuf_append_json_str(j, rb);
      strbuf_append_str(j, ",\"ours\":");
      strbuf_append_json_str(j, ro);
      strbuf_append_str(j, ",\"theirs\":");
      strbuf_append_json_str(j, rt);
      append_blob(j, ",\"base_text\":", tb);
      append_blob(j, ",\"ours_text\":", to);
      append_blob(j, ",\"theirs_text\":", tt);
      strbuf_append_str(j, ",\"merged_text\":");
      if (have_merge)
        strbuf_append_json_bytes(j, merged.out ? merged.out : "", merged.out_len);
      else
        strbuf_append_str(j, "null");
      strbuf_append_str(j, "}");
      git_output_release(&merged);
      git_output_release(&tb.raw);
      git_output_release(&to.raw);
      git_output_release(&tt.raw);
    }
    free(rec);
    free(record);
    if (rc == 0 && unresolved) {
      // Remembered for the next sync; the branch, index and files stay.
      if (pagefs_write(h->root, record_name, next_record.data ? next_record.data : "",
                       next_record.len) != PAGEFS_OK) {
        set_error("Failed to write the conflict record: %s/%s", h->root, record_name);
        rc = -1;
      } else {
        rc = WIKIDB_CONFLICT;
      }
    } else if (rc == 0) {
      // Relative to the root, where git runs.
      const char *index_file = ".git/wikidb-sync-index";
      char *out = nullptr;
      if (!info.data ||
          git_tree_with_entries(h->root, index_file, tree, info.data, info.len, &out) != 0 ||
          !take_hash(out, tree)) {
        if (!info.data) set_error("Memory allocation failed");
        rc = -1;
      }
      free(out);
      pagefs_remove(h->root, ".git/wikidb-sync-index");
    }
    strbuf_release(&info);
    strbuf_release(&next_record);
  }
  merge_tree_release(&res);
  if (rc != 0) return rc;
  char message[SYNC_NAME_CAP + SYNC_BRANCH_CAP + 40];
  int ml = snprintf(message, sizeof message, "Sync with %s/%s\n", r->name, r->branch);
  char *out = nullptr;
  rc = git_commit_tree_merge(h->root, tree, local, remote, message, (size_t)ml, &out);
  if (rc == 0 && !take_hash(out, merged_commit)) {
    set_error("Unexpected hash from git");
    rc = -1;
  }
  free(out);
  return rc == 0 ? 0 : -1;
}

long count_of(const char *text, int which) {
  if (!text) return 0;
  const char *p = text;
  if (which) p = strchr(text, '\t');
  return p ? strtol(p + (which ? 1 : 0), nullptr, 10) : 0;
}

enum round_result { ROUND_DONE, ROUND_AGAIN };

// One round. 0 (done, or *again when the push found the remote moved),
// WIKIDB_CONFLICT, or -1.
int sync_round(wikidb_handle *h, const sync_remote *r, int flags, const sync_env *env,
               report *rep, bool *again) {
  *again = false;
  char ref[SYNC_BRANCH_CAP + 16], fetch_ref[SYNC_NAME_CAP + 32], sync_ref[SYNC_NAME_CAP + 32];
  snprintf(ref, sizeof ref, "refs/heads/%s", r->branch);
  snprintf(fetch_ref, sizeof fetch_ref, "refs/wikidb/fetch/%s", r->name);
  snprintf(sync_ref, sizeof sync_ref, "refs/wikidb/sync/%s", r->name);

  // What the remote holds now.
  git_output ls = {};
  if (git_ls_remote(h->root, r->url, ref, env->entries, &ls) != 0) {
    git_output_release(&ls);
    return -1;
  }
  char remote[HASH_HEX_CAP] = "";
  for (const char *p = ls.out; p && p < ls.out + ls.out_len;) {
    const char *eol = static_cast<const char *>(memchr(p, '\n', (size_t)(ls.out + ls.out_len - p)));
    size_t n = eol ? (size_t)(eol - p) : (size_t)(ls.out + ls.out_len - p);
    const char *tab = static_cast<const char *>(memchr(p, '\t', n));
    if (tab && (size_t)(p + n - tab - 1) == strlen(ref) && !memcmp(tab + 1, ref, strlen(ref)))
      take_hash(p, remote);
    p += n + 1;
  }
  git_output_release(&ls);
  if (*remote) {
    // Fetched into a private ref, never the user's remote-tracking ones.
    char have[HASH_HEX_CAP];
    if (resolve_commit(h->root, remote, have) != 0) return -1;
    if (!*have) {
      // Objects only: the ref is set under the writer lock below, since two
      // syncs of one wiki may fetch at once.
      git_output fo = {};
      int frc = git_fetch_refspec(h->root, r->url, ref, env->entries, &fo);
      git_output_release(&fo);
      if (frc != 0) return -1;
      if (resolve_commit(h->root, remote, have) != 0) return -1;
      if (!*have) {
        *again = true;  // the remote moved between the two reads: read it again
        return 0;
      }
    }
  }
  char last_seen[HASH_HEX_CAP];
  if (resolve_commit(h->root, sync_ref, last_seen) != 0) return -1;
  char saved[WIKIDB_ERROR_CAP];
  // A branch deleted at the remote since the last sync is a rewrite too:
  // it is pushed again, and the host is told.
  if (*last_seen && !*remote) rep->rewritten = true;
  if (*last_seen && *remote) {
    save_error(saved);
    int a = ask(git_is_ancestor(h->root, last_seen, remote), saved);
    if (a != 0 && a != 1) return -1;
    if (a == 1) rep->rewritten = true;
  }

  // Integration, under the writer lock.
  wiki_lock lock;
  if (writer_begin(h, &lock) != 0) return -1;
  char local[HASH_HEX_CAP];
  int rc = resolve_commit(h->root, "HEAD", local);
  char result[HASH_HEX_CAP] = "";
  bool push = false;
  // Keeps what was fetched reachable until the next sync.
  if (rc == 0 && *remote) rc = set_private_ref(h, fetch_ref, remote);
  if (rc == 0) {
    snprintf(result, sizeof result, "%s", local);
    rep->ahead = rep->behind = 0;
    if (*local && *remote && strcmp(local, remote) != 0) {
      char *counts = nullptr;
      if (git_count_left_right(h->root, local, remote, &counts) != 0) rc = -1;
      rep->ahead = count_of(counts, 0);
      rep->behind = count_of(counts, 1);
      free(counts);
    } else if (*local && !*remote) {
      char *counts = nullptr;
      if (git_count_left_right(h->root, local, nullptr, &counts) != 0) rc = -1;
      rep->ahead = count_of(counts, 0);
      free(counts);
    } else if (!*local && *remote) {
      char *counts = nullptr;
      if (git_count_left_right(h->root, remote, nullptr, &counts) != 0) rc = -1;
      rep->behind = count_of(counts, 0);
      free(counts);
    }
  }
  if (rc == 0) {
    if (!*remote) {
      rep->state = "up_to_date";
      push = *local != '\0';
    } else if (!strcmp(local, remote)) {
      rep->state = "up_to_date";
    } else {
      int remote_in_local = 1, local_in_remote = *local ? 1 : 0;
      if (*local) {
        save_error(saved);
        remote_in_local = ask(git_is_ancestor(h->root, remote, local), saved);
        if (remote_in_local == 1) local_in_remote = ask(git_is_ancestor(h->root, local, remote), saved);
      }
      if (remote_in_local < 0 || remote_in_local > 1 || local_in_remote < 0 || local_in_remote > 1) {
        rc = -1;
      } else if (remote_in_local == 0) {
        rep->state = "up_to_date";
        push = true;
      } else if (flags & WIKIDB_SYNC_PUSH_ONLY) {
        set_error("The remote has changes the wiki lacks: sync without push-only first");
        rc = -1;
      } else if (local_in_remote == 0 || !*local) {
        int p = publish(h, local, remote, rep);
        if (p == 1) *again = true;
        rc = p == 1 ? 0 : p;
        if (rc == 0 && p == 0) {
          rep->state = "fast_forward";
          snprintf(result, sizeof result, "%s", remote);
        }
      } else {
        char *mb = nullptr;
        save_error(saved);
        int m = ask(git_merge_base(h->root, local, remote, &mb), saved);
        free(mb);
        bool unrelated = m == 1;
        if (m != 0 && m != 1) {
          rc = -1;
        } else if (unrelated && !(flags & WIKIDB_SYNC_ALLOW_UNRELATED)) {
          set_error("The remote's history is unrelated to the wiki's: %s %s", r->url, r->branch);
          rc = -1;
        } else {
          char merged[HASH_HEX_CAP];
          rc = merge_sides(h, r, local, remote, unrelated, rep, merged);
          if (rc == WIKIDB_CONFLICT) {
            rep->state = "conflict";
          } else if (rc == 0) {
            int p = publish(h, local, merged, rep);
            if (p == 1) *again = true;
            rc = p == 1 ? 0 : p;
            if (rc == 0 && p == 0) {
              rep->state = "merged";
              note_commit(h);
              snprintf(result, sizeof result, "%s", merged);
              push = true;
              char record_name[SYNC_NAME_CAP + 40];
              record_file(r->name, record_name, sizeof record_name);
              pagefs_remove(h->root, record_name);
            }
          }
        }
      }
    }
  }
  writer_end(&lock);
  if (rc != 0 || *again) return rc;
  if (push && !(flags & WIKIDB_SYNC_PULL_ONLY)) {
    char refspec[HASH_HEX_CAP + SYNC_BRANCH_CAP + 16];
    snprintf(refspec, sizeof refspec, "%s:%s", result, ref);
    git_output po = {};
    save_error(saved);
    int prc = git_push_refspec(h->root, r->url, refspec, env->entries, &po);
    if (prc != 0 && prc != -1) {
      // "[rejected]": the remote moved since it was read; "[remote
      // rejected]": the server refused the commits themselves.
      // "[remote rejected] (failed to update ref)": another push took the
      // branch between the server's check and its update; also a move.
      const char *o = po.out ? po.out : "";
      bool moved = strstr(o, "\t[rejected]") || strstr(o, "(fetch first)") ||
                   strstr(o, "(non-fast-forward)") || strstr(o, "(failed to update ref)") ||
                   strstr(o, "(failed to lock)");
      bool refused = strstr(o, "[remote rejected]") && !strstr(o, "(failed to update ref)") &&
                     !strstr(o, "(failed to lock)");
      if (moved && !refused) {
        restore_error(saved);
        *again = true;
        git_output_release(&po);
        return 0;
      }
    }
    git_output_release(&po);
    if (prc != 0) return -1;
    if (!strcmp(rep->state, "up_to_date")) rep->state = "pushed";
    snprintf(remote, sizeof remote, "%s", result);
  }
  // What the remote held when this sync ended, for telling a rewrite next
  // time. Set under the writer lock, as the fetched ref is; when the wiki is
  // busy, the value an earlier sync set stays.
  save_error(saved);
  if (*remote) {
    if (writer_begin(h, &lock) == 0) {
      if (set_private_ref(h, sync_ref, remote) != 0) restore_error(saved);
      writer_end(&lock);
    } else {
      restore_error(saved);
    }
  }
  return 0;
}

}  // namespace

int sync_run(wikidb_handle *h, const sync_remote *r, int flags) {
  replace_slot(&h->sync_buf, nullptr);
  if (sync_url_runs_helper(r->url) && !(flags & WIKIDB_SYNC_ALLOW_COMMANDS)) {
    set_error("Remote URL names a transport that may run commands: %s", r->url);
    return -1;
  }
  sync_env env;
  if (sync_env_build(h, (flags & WIKIDB_SYNC_ALLOW_COMMANDS) != 0, &env) != 0) return -1;
  report rep = {};
  rep.state = "up_to_date";
  const unsigned long oom = out_of_memory_count();
  int rc = 0;
  bool again = true;
  for (int round = 0; again && rc == 0; round++) {
    if (round == SYNC_ROUNDS) {
      set_error("The remote kept moving during the sync");
      rc = -1;
      break;
    }
    // Several clones pushing at once: a short pause, varied by the clock's
    // low digits (rand() would give every process the same sequence, and
    // would move the host's), spreads them.
    if (round) {
      const long jitter_ms =
          static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() % 50);
      sleep_us((20L * round + jitter_ms) * 1000);
    }
    rc = sync_round(h, r, flags, &env, &rep, &again);
  }
  sync_env_release(&env);
  if (rc == 0 || rc == WIKIDB_CONFLICT) {
    strbuf json = {};
    strbuf_append_str(&json, "{\"state\":");
    strbuf_append_json_str(&json, rep.state);
    char nums[96];
    snprintf(nums, sizeof nums, ",\"ahead\":%ld,\"behind\":%ld,\"rewritten\":%s", rep.ahead,
             rep.behind, rep.rewritten ? "true" : "false");
    strbuf_append_str(&json, nums);
    strbuf_append_str(&json, ",\"pages_changed\":[");
    if (rep.pages.data) strbuf_append(&json, rep.pages.data, rep.pages.len);
    strbuf_append_str(&json, "],\"conflicts\":[");
    if (rep.conflicts.data) strbuf_append(&json, rep.conflicts.data, rep.conflicts.len);
    strbuf_append_str(&json, "]}");
    if (out_of_memory_count() != oom || !json.data) {
      strbuf_release(&json);
      set_error("Memory allocation failed");
      rc = -1;
    } else {
      replace_slot(&h->sync_buf, strbuf_detach(&json));
    }
  }
  strbuf_release(&rep.pages);
  strbuf_release(&rep.conflicts);
  return rc;
}
