#include "write/commit_ops.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/clock.h"
#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "store/commit.h"
#include "store/fs.h"
#include "store/journal.h"
#include "store/writer_lock.h"
#include "write/conflict.h"
#include "write/follow.h"
#include "write/objects.h"
#include "write/snapshot.h"
#include "write/trailer.h"

// Rounds of rebuilding on a tip that moved: each is caused by a commit that
// landed meanwhile, so a busy branch still lets the write through.
enum { MOVED_ROUNDS = 100, STUCK_ROUNDS = 10 };

bool expected_is_valid(const char *expected) {
  if (!expected || !*expected) return true;
  size_t n = strlen(expected);
  return n >= 7 && n <= 64 && hex_run(expected, n) == n;
}

int page_revision_at(const char *root, const char *tip, const char *repo, char out[HASH_HEX_CAP]) {
  out[0] = '\0';
  char *log = nullptr;
  if (git_last_change(root, tip, repo, &log) != 0) {
    free(log);
    return -1;
  }
  if (log) {
    size_t hl = hex_run(log, strlen(log));
    // The last change removed the page: it no longer exists.
    bool deleted = strstr(log, "\nD\t") != nullptr;
    if ((hl == 40 || hl == 64) && !deleted) {
      memcpy(out, log, hl);
      out[hl] = '\0';
    }
  }
  free(log);
  return 0;
}

namespace {

struct string_list {
  char **items;
  size_t n, cap;
};

void list_release(string_list *l) {
  for (size_t i = 0; i < l->n; i++) free(l->items[i]);
  free(l->items);
  *l = {};
}

bool list_has(const string_list *l, const char *s, size_t len) {
  for (size_t i = 0; i < l->n; i++)
    if (strlen(l->items[i]) == len && memcmp(l->items[i], s, len) == 0) return true;
  return false;
}

int list_add(string_list *l, const char *s, size_t len) {
  if (list_has(l, s, len)) return 0;
  if (l->n == l->cap) {
    size_t cap = l->cap ? 2 * l->cap : 8;
    char **grown = static_cast<char **>(realloc(l->items, cap * sizeof *grown));
    if (!grown) return -1;
    l->items = grown;
    l->cap = cap;
  }
  char *copy = static_cast<char *>(malloc(len + 1));
  if (!copy) return -1;
  memcpy(copy, s, len);
  copy[len] = '\0';
  l->items[l->n++] = copy;
  return 0;
}

size_t depth(const char *path) {
  if (!*path) return 0;
  size_t d = 1;
  for (; *path; path++) d += *path == '/';
  return d;
}

int by_depth(const void *a, const void *b) {
  size_t da = depth(*static_cast<char *const *>(a)), db = depth(*static_cast<char *const *>(b));
  return da < db ? -1 : da > db;
}

// Every directory on the way to the ops' pages, the root first.
int collect_dirs(const write_ops *ops, string_list *dirs) {
  if (list_add(dirs, "", 0) != 0) return -1;
  for (size_t i = 0; i < ops->n; i++) {
    const char *paths[2] = {ops->items[i].repo, ops->items[i].to_repo};
    for (const char *p : paths) {
      for (const char *s = p ? strchr(p, '/') : nullptr; s; s = strchr(s + 1, '/'))
        if (list_add(dirs, p, (size_t)(s - p)) != 0) return -1;
    }
  }
  qsort(dirs->items, dirs->n, sizeof *dirs->items, by_depth);
  return 0;
}

// The state of one path after the ops.
struct path_state {
  const char *repo;
  bool present;
  char mode[8];
  char hex[HASH_HEX_CAP];
  const char *content;  // known text, or null
  size_t content_len;
};

struct states {
  path_state *items;
  size_t n;
};

path_state *state_of(states *st, const char *repo) {
  for (size_t i = 0; i < st->n; i++)
    if (strcmp(st->items[i].repo, repo) == 0) return &st->items[i];
  return nullptr;
}

// The path as it stands after the ops so far: 1 file, 0 nothing, -1 blocked.
int lookup(states *st, const snapshot *s, const char *repo, path_state *out) {
  if (path_state *p = state_of(st, repo)) {
    *out = *p;
    return p->present ? 1 : 0;
  }
  *out = {};
  out->repo = repo;
  return snapshot_lookup(s, repo, out->mode, out->hex);
}

void set_state(states *st, const path_state &value) {
  path_state *p = state_of(st, value.repo);
  if (!p) p = &st->items[st->n++];
  *p = value;
}

// Whether the page's file can be written once the commit is published: no
// link or file on the way, and nothing but a plain file where it goes. A
// commit whose page could never reach the work tree is not made.
bool page_file_writable(const char *root, const char *repo) {
  if (!pagefs_parents_safe(root, repo)) return false;
  char full[WIKIDB_ROOT_CAP + WIKIDB_REPO_PATH_CAP + 2];
  snprintf(full, sizeof full, "%s/%s", root, repo);
  if (!fs_exists(full)) return true;
  char *text = nullptr;
  size_t len = 0;
  const bool plain = pagefs_read(root, repo, &text, &len) == PAGEFS_OK;
  free(text);
  return plain;
}

// Applies the ops to the snapshot. 0, or -1 with the message.
int resolve(const char *root, const write_ops *ops, const snapshot *s, states *st) {
  for (size_t i = 0; i < ops->n; i++) {
    const write_op &op = ops->items[i];
    path_state cur;
    int at = lookup(st, s, op.repo, &cur);
    if (at < 0) {
      set_error("Page path is blocked by a directory or file: %s", op.repo);
      return -1;
    }
    const char *written = op.kind == OP_SAVE ? op.repo : op.kind == OP_RENAME ? op.to_repo : nullptr;
    if (written && !page_file_writable(root, written)) {
      set_error("Failed to open file for writing: %s/%s", root, written);
      return -1;
    }
    if (op.kind == OP_SAVE) {
      path_state next = {};
      next.repo = op.repo;
      next.present = true;
      strcpy(next.mode, at == 1 && strcmp(cur.mode, "100755") == 0 ? "100755" : "100644");
      strcpy(next.hex, op.blob);
      next.content = op.content;
      next.content_len = op.content_len;
      set_state(st, next);
    } else if (op.kind == OP_DELETE) {
      path_state next = {};
      next.repo = op.repo;
      set_state(st, next);
    } else {
      path_state target;
      int to_at = lookup(st, s, op.to_repo, &target);
      if (at != 1) {
        set_error("Page not found: %s", op.title);
        return -1;
      }
      if (to_at != 0) {
        set_error(to_at > 0 ? "Page already exists: %s" : "Page path is blocked by a directory or file: %s",
                  op.to_title);
        return -1;
      }
      if (strncmp(cur.mode, "1006", 4) != 0 && strncmp(cur.mode, "1007", 4) != 0) {
        set_error("Not a page file: %s", op.title);
        return -1;
      }
      path_state moved = cur;
      moved.repo = op.to_repo;
      moved.present = true;
      set_state(st, moved);
      path_state gone = {};
      gone.repo = op.repo;
      set_state(st, gone);
    }
  }
  return 0;
}

const char *parent_end(const char *path) { return strrchr(path, '/'); }

bool is_child_of(const char *path, const char *dir) {
  const char *slash = parent_end(path);
  size_t pl = slash ? (size_t)(slash - path) : 0;
  return strlen(dir) == pl && memcmp(path, dir, pl) == 0;
}

const char *base_name(const char *path) {
  const char *slash = parent_end(path);
  return slash ? slash + 1 : path;
}

// Writes the trees the states change, deepest first. root_hex gets the new
// root tree. 0, or -1 with the message.
int build_trees(object_batch *objects, const snapshot *s, const states *st, size_t hash_len,
                char root_hex[HASH_HEX_CAP]) {
  const size_t nd = s->n_dirs;
  struct dir_result {
    bool changed, empty;
    char hex[HASH_HEX_CAP];
  };
  dir_result *res = static_cast<dir_result *>(calloc(nd, sizeof *res));
  tree_change *changes = static_cast<tree_change *>(calloc(st->n + nd + 1, sizeof *changes));
  if (!res || !changes) {
    free(res);
    free(changes);
    set_error("Memory allocation failed");
    return -1;
  }
  int rc = 0;
  for (size_t k = nd; k-- > 0 && rc == 0;) {
    const snap_dir &d = s->dirs[k];
    size_t nc = 0;
    for (size_t i = 0; i < st->n; i++) {
      const path_state &p = st->items[i];
      if (!is_child_of(p.repo, d.path)) continue;
      // A state equal to what the tree holds changes nothing.
      char mode[8], hex[HASH_HEX_CAP];
      int was = snapshot_lookup(s, p.repo, mode, hex);
      if (was == 1 && p.present && !strcmp(mode, p.mode) && !strcmp(hex, p.hex)) continue;
      if (was == 0 && !p.present) continue;
      tree_change &c = changes[nc++];
      c.name = base_name(p.repo);
      c.name_len = strlen(c.name);
      c.present = p.present;
      c.mode = p.present ? p.mode : "";
      if (p.present && !hash_from_hex(p.hex, strlen(p.hex), c.hash, hash_len)) rc = -1;
    }
    for (size_t j = k + 1; j < nd; j++) {
      if (!res[j].changed || !is_child_of(s->dirs[j].path, d.path)) continue;
      tree_change &c = changes[nc++];
      c.name = base_name(s->dirs[j].path);
      c.name_len = strlen(c.name);
      c.present = !res[j].empty;
      c.mode = "40000";
      if (c.present && !hash_from_hex(res[j].hex, strlen(res[j].hex), c.hash, hash_len)) rc = -1;
    }
    if (rc != 0) {
      set_error("Unexpected hash from git");
      break;
    }
    // The same name twice: a page and a directory of pages asked for at once.
    for (size_t a = 0; a < nc && rc == 0; a++)
      for (size_t b = a + 1; b < nc && rc == 0; b++)
        if (changes[a].name_len == changes[b].name_len &&
            !memcmp(changes[a].name, changes[b].name, changes[a].name_len) && changes[a].present &&
            changes[b].present) {
          set_error("Page path is blocked by a directory or file: %s/%.*s", d.path,
                    (int)changes[a].name_len, changes[a].name);
          rc = -1;
        }
    if (rc != 0) break;
    if (!nc && k != 0) {
      strcpy(res[k].hex, d.hex);
      continue;
    }
    strbuf raw = {};
    if (tree_build(d.entries, d.exists ? d.n : 0, changes, nc, hash_len, &raw) != 0) {
      set_error("Memory allocation failed");
      rc = -1;
      break;
    }
    res[k].changed = true;
    res[k].empty = raw.len == 0;
    if ((!res[k].empty || k == 0) &&
        objects_add(objects, "tree", raw.data ? raw.data : "", raw.len, res[k].hex) != 0)
      rc = -1;
    strbuf_release(&raw);
  }
  if (rc == 0) strcpy(root_hex, res[0].hex);
  free(res);
  free(changes);
  return rc;
}

// Names each save's text as a blob, queued with the trees.
int add_blobs(object_batch *objects, write_ops *ops) {
  for (size_t i = 0; i < ops->n; i++) {
    write_op &op = ops->items[i];
    if (op.kind != OP_SAVE) continue;
    if (objects_add(objects, "blob", op.content ? op.content : "", op.content_len, op.blob) != 0)
      return -1;
  }
  return 0;
}

// "Name <mail>" split for git's identity variables.
int add_identity(strbuf *env_text, const char *who, const char *date, const char *role) {
  const char *lt = strchr(who, '<');
  const char *gt = lt ? strchr(lt, '>') : nullptr;
  size_t name_len = lt ? (size_t)(lt - who) : strlen(who);
  while (name_len && who[name_len - 1] == ' ') name_len--;
  strbuf_append_str(env_text, "GIT_");
  strbuf_append_str(env_text, role);
  strbuf_append_str(env_text, "_NAME=");
  strbuf_append(env_text, who, name_len);
  strbuf_append(env_text, "", 1);
  strbuf_append_str(env_text, "GIT_");
  strbuf_append_str(env_text, role);
  strbuf_append_str(env_text, "_EMAIL=");
  if (lt && gt) strbuf_append(env_text, lt + 1, (size_t)(gt - lt - 1));
  strbuf_append(env_text, "", 1);
  if (date) {
    strbuf_append_str(env_text, "GIT_");
    strbuf_append_str(env_text, role);
    strbuf_append_str(env_text, "_DATE=");
    strbuf_append(env_text, date, strlen(date) + 1);
  }
  return 0;
}

// commit-tree with the identities in its environment.
int make_commit(const char *root, const char *tree, const char *parent, const commit_who *who,
                const strbuf *message, char out_hex[HASH_HEX_CAP]) {
  const unsigned long oom = out_of_memory_count();
  strbuf env_text = {};
  add_identity(&env_text, who->author, who->author_date, "AUTHOR");
  if (who->committer) add_identity(&env_text, who->committer, who->committer_date, "COMMITTER");
  else if (who->committer_date) {
    strbuf_append_str(&env_text, "GIT_COMMITTER_DATE=");
    strbuf_append(&env_text, who->committer_date, strlen(who->committer_date) + 1);
  }
  const char *env[8] = {};
  size_t k = 0;
  for (size_t i = 0; env_text.data && i < env_text.len && k < 7; i += strlen(env_text.data + i) + 1)
    env[k++] = env_text.data + i;
  int rc = -1;
  char *out = nullptr;
  // An identity cut by a failed append would sign the commit wrongly.
  if (out_of_memory_count() != oom) strbuf_release(&env_text);
  if (env_text.data &&
      git_commit_tree(root, tree, parent, message->data, message->len, env, &out) == 0) {
    size_t hl = out ? hex_run(out, strlen(out)) : 0;
    if (hl == 40 || hl == 64) {
      memcpy(out_hex, out, hl);
      out_hex[hl] = '\0';
      rc = 0;
    } else {
      set_error("Unexpected hash from git");
    }
  } else if (!env_text.data) {
    set_error("Memory allocation failed");
  }
  free(out);
  strbuf_release(&env_text);
  return rc;
}

}  // namespace

static int commit_locked(wikidb_handle *h, write_ops *ops, const commit_who *who,
                         const char *message, int flags) {
  string_list dirs = {};
  if (collect_dirs(ops, &dirs) != 0) {
    list_release(&dirs);
    set_error("Memory allocation failed");
    return -1;
  }
  strbuf text = {};
  if (compose_message(ops, message, &text) != 0) {
    list_release(&dirs);
    return -1;
  }
  states st = {static_cast<path_state *>(calloc(2 * ops->n + 1, sizeof(path_state))), 0};
  stale_page *stale = static_cast<stale_page *>(calloc(ops->n + 1, sizeof *stale));
  const char **paths = static_cast<const char **>(calloc(2 * ops->n + 1, sizeof *paths));
  int rc = st.items && stale && paths ? 0 : -1;
  if (rc != 0) set_error("Memory allocation failed");
  char last_tip[HASH_HEX_CAP] = "";
  int moved = 0, stuck = 0;
  bool published = false, journal_open = false;
  size_t hash_len = 20;
  while (rc == 0) {
    // The text each expected revision held, read with the trees.
    // A name cut by a failed append would name another object (":PATH" is
    // the index's): any failure fails the write.
    const unsigned long oom = out_of_memory_count();
    strbuf expected_names = {};
    size_t n_expected = 0;
    for (size_t i = 0; i < ops->n; i++) {
      const write_op &op = ops->items[i];
      if (!op.expected || !*op.expected) continue;
      strbuf_append_str(&expected_names, op.expected);
      strbuf_append(&expected_names, ":", 1);
      strbuf_append(&expected_names, op.repo, strlen(op.repo) + 1);
      n_expected++;
    }
    if ((n_expected && !expected_names.data) || out_of_memory_count() != oom) {
      strbuf_release(&expected_names);
      set_error("Memory allocation failed");
      rc = -1;
      break;
    }
    snapshot s;
    int r = snapshot_read(h->root, const_cast<const char *const *>(dirs.items), dirs.n,
                          expected_names.data, n_expected, &s);
    strbuf_release(&expected_names);
    if (r == 1 && ++moved < MOVED_ROUNDS) continue;
    if (r != 0) {
      if (r == 1) set_error("The branch kept moving while the commit was built");
      rc = -1;
      break;
    }
    // The conditions: each expected revision against the page at the tip.
    // The page is as expected when the tip holds the very text it held at
    // the expected revision (or, expecting "", holds no page): a change
    // undone since would lose nothing, and no history walk is needed.
    size_t n_stale = 0, k_expected = 0;
    for (size_t i = 0; i < ops->n && rc == 0; i++) {
      const write_op &op = ops->items[i];
      if (!op.expected) continue;
      char current[HASH_HEX_CAP] = "", mode[8];
      int at = snapshot_lookup(&s, op.repo, mode, current);
      const snap_object *then = *op.expected ? &s.objects[k_expected++] : nullptr;
      const bool same = then ? at == 1 && then->found && strcmp(then->hex, current) == 0 : at != 1;
      if (same) continue;
      current[0] = '\0';
      if (at == 1 && page_revision_at(h->root, s.tip, op.repo, current) != 0) rc = -1;
      if (rc == 0) {
        stale[n_stale].op = i;
        strcpy(stale[n_stale].current, current);
        n_stale++;
      }
    }
    if (rc == 0 && n_stale) {
      int m = conflict_report(h, ops, stale, n_stale, s.tip, (flags & WIKIDB_MERGE) != 0);
      snapshot_release(&s);
      if (m == 1 && ++moved < MOVED_ROUNDS) continue;  // commit the merged texts
      if (m == 1) set_error("The branch kept moving while the commit was built");
      rc = m == 0 ? WIKIDB_CONFLICT : -1;
      break;
    }
    st.n = 0;
    char tree[HASH_HEX_CAP] = "", commit[HASH_HEX_CAP] = "";
    object_batch objects;
    objects_begin(&objects, h->root, s.born ? s.hash_len : 0);
    if (rc == 0) rc = add_blobs(&objects, ops);
    // Without commits the hash is learned from git's first answer.
    hash_len = objects.hash_len ? objects.hash_len : 20;
    if (rc == 0) rc = resolve(h->root, ops, &s, &st);
    if (rc == 0) rc = build_trees(&objects, &s, &st, hash_len, tree);
    bool adds = false;
    for (size_t i = 0; i < st.n; i++) adds = adds || st.items[i].present;
    // Unchanged: the tip's own tree, or nothing at all on an unborn branch.
    const bool unchanged = rc == 0 && (s.born ? strcmp(tree, s.dirs[0].hex) == 0 : !adds);
    // Objects the tip already holds need no writing.
    if (rc == 0 && !unchanged) rc = objects_flush(&objects);
    objects_release(&objects);
    if (rc == 0 && !unchanged)
      rc = make_commit(h->root, tree, s.born ? s.tip : nullptr, who, &text, commit);
    for (size_t i = 0; i < st.n; i++) paths[i] = st.items[i].repo;
    // Recorded before the branch moves: a writer killed from here on leaves
    // these pages for the next one to bring in line with HEAD.
    if (rc == 0) rc = journal_begin(h, 'T', paths, st.n);
    journal_open = journal_open || rc == 0;
    if (rc == 0 && unchanged) {
      snapshot_release(&s);
      break;
    }
    if (rc == 0) {
      char saved_tip[HASH_HEX_CAP];
      strcpy(saved_tip, s.tip);
      if (git_update_ref_cas(h->root, commit, s.born ? s.tip : "", "wikidb: commit") == 0) {
        strcpy(h->last_commit, commit);
        published = true;
        clear_error();
        snapshot_release(&s);
        break;
      }
      // The branch moved under us, or another git holds its lock: build
      // again on whatever the tip is now.
      bool same = strcmp(saved_tip, last_tip) == 0;
      strcpy(last_tip, saved_tip);
      if (same ? ++stuck >= STUCK_ROUNDS : ++moved >= MOVED_ROUNDS) rc = -1;
      else if (same) sleep_us(20000L * stuck);
    }
    snapshot_release(&s);
  }
  if (rc == 0) {
    follow_entry *entries = static_cast<follow_entry *>(calloc(st.n + 1, sizeof *entries));
    if (entries) {
      for (size_t i = 0; i < st.n; i++) {
        const path_state &p = st.items[i];
        entries[i] = {p.repo, p.present, {}, {}, p.content, p.content_len, false};
        strcpy(entries[i].mode, p.mode);
        strcpy(entries[i].hex, p.hex);
      }
      char saved[WIKIDB_ERROR_CAP];
      save_error(saved);
      // The commit stands either way. A page left behind is brought in line
      // at once as the journal says, or, failing that, by the next writer.
      if (follow_entries(h, entries, st.n, hash_len) == 0)
        journal_end(h);
      else
        journal_abandon(h);
      restore_error(saved);
      free(entries);
    }
    if (published) note_commit(h);
  } else if (journal_open) {
    journal_end(h);  // nothing was published: the pages stay as they are
  }
  free(st.items);
  free(stale);
  free(paths);
  strbuf_release(&text);
  list_release(&dirs);
  return rc;
}

int commit_ops(wikidb_handle *h, write_ops *ops, const commit_who *who, const char *message,
               int flags) {
  h->last_commit[0] = '\0';
  // Taking the lock also repairs after a writer that died.
  wiki_lock lock;
  if (writer_begin(h, &lock) != 0) return -1;
  int rc = commit_locked(h, ops, who, message, flags);
  writer_end(&lock);
  return rc;
}
