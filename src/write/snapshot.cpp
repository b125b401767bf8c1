#include "write/snapshot.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"

void snapshot_release(snapshot *s) {
  for (size_t i = 0; i < s->n_dirs; i++) free(s->dirs[i].entries);
  free(s->dirs);
  free(s->objects);
  git_output_release(&s->raw);
  *s = {};
}

const snap_dir *snapshot_dir(const snapshot *s, const char *path, size_t len) {
  for (size_t i = 0; i < s->n_dirs; i++)
    if (strlen(s->dirs[i].path) == len && memcmp(s->dirs[i].path, path, len) == 0) return &s->dirs[i];
  return nullptr;
}

namespace {

// One object of cat-file's output at *pos: its hash, type and content, or
// missing. False when the output is not what cat-file prints.
bool next_object(const git_output &out, size_t *pos, const char *name, bool *found, char *hex,
                 const char **type, size_t *type_len, const char **data, size_t *len) {
  const char *p = out.out + *pos;
  size_t left = out.out_len - *pos;
  size_t nl = strlen(name);
  static const char *const absent[] = {" missing\n", " ambiguous\n"};
  for (const char *a : absent) {
    size_t al = strlen(a);
    if (left >= nl + al && memcmp(p, name, nl) == 0 && memcmp(p + nl, a, al) == 0) {
      *found = false;
      *pos += nl + al;
      return true;
    }
  }
  const char *eol = static_cast<const char *>(memchr(p, '\n', left));
  if (!eol) return false;
  size_t hl = hex_run(p, (size_t)(eol - p));
  if ((hl != 40 && hl != 64) || p[hl] != ' ') return false;
  memcpy(hex, p, hl);
  hex[hl] = '\0';
  const char *t = p + hl + 1;
  const char *sp = static_cast<const char *>(memchr(t, ' ', (size_t)(eol - t)));
  if (!sp) return false;
  *type = t;
  *type_len = (size_t)(sp - t);
  char *end = nullptr;
  unsigned long long size = strtoull(sp + 1, &end, 10);
  if (end != eol) return false;
  size_t start = (size_t)(eol + 1 - out.out);
  if (size > out.out_len - start || out.out_len - start - size < 1) return false;
  *data = out.out + start;
  *len = (size_t)size;
  *found = true;
  *pos = start + (size_t)size + 1;
  return true;
}

bool type_is(const char *type, size_t len, const char *want) {
  return len == strlen(want) && memcmp(type, want, len) == 0;
}

}  // namespace

int snapshot_read(const char *root, const char *const *dirs, size_t n, const char *extra,
                  size_t n_extra, snapshot *s) {
  *s = {};
  const unsigned long oom = out_of_memory_count();
  strbuf input = {};
  strbuf_append(&input, "HEAD", 5);
  for (size_t i = 0; i < n; i++) {
    strbuf_append_str(&input, "HEAD:");
    strbuf_append(&input, dirs[i], strlen(dirs[i]) + 1);
  }
  const char *e = extra;
  for (size_t i = 0; i < n_extra; i++, e += strlen(e) + 1) strbuf_append(&input, e, strlen(e) + 1);
  s->dirs = static_cast<snap_dir *>(calloc(n ? n : 1, sizeof *s->dirs));
  s->objects = static_cast<snap_object *>(calloc(n_extra ? n_extra : 1, sizeof *s->objects));
  if (!s->dirs || !s->objects || !input.data || out_of_memory_count() != oom) {
    strbuf_release(&input);
    snapshot_release(s);
    set_error("Memory allocation failed");
    return -1;
  }
  s->n_dirs = n;
  int rc = git_cat_file_batch(root, input.data, input.len, &s->raw);
  if (rc != 0) {
    strbuf_release(&input);
    snapshot_release(s);
    return -1;
  }
  // The names as cat-file echoes them when it finds nothing.
  const char *name = input.data;
  size_t pos = 0;
  bool found = false, ok = true;
  const char *type = nullptr, *data = nullptr;
  size_t type_len = 0, len = 0;
  char tree_of_tip[HASH_HEX_CAP] = "";
  ok = s->raw.out && next_object(s->raw, &pos, name, &found, s->tip, &type, &type_len, &data, &len);
  if (ok && found) {
    ok = type_is(type, type_len, "commit") && len > 5 && memcmp(data, "tree ", 5) == 0;
    size_t hl = ok ? hex_run(data + 5, len - 5) : 0;
    ok = ok && (hl == 40 || hl == 64);
    if (ok) {
      memcpy(tree_of_tip, data + 5, hl);
      tree_of_tip[hl] = '\0';
      s->hash_len = hl / 2;
      s->born = true;
    }
  } else if (ok) {
    s->tip[0] = '\0';
  }
  int result = ok ? 0 : -1;
  for (size_t i = 0; i < n && result == 0; i++) {
    name += strlen(name) + 1;
    snap_dir &d = s->dirs[i];
    d.path = dirs[i];
    if (!next_object(s->raw, &pos, name, &found, d.hex, &type, &type_len, &data, &len)) {
      result = -1;
      break;
    }
    if (!found) continue;
    if (!s->born) {
      result = 1;  // a commit appeared while we read
      break;
    }
    if (!type_is(type, type_len, "tree")) {
      d.blocked = true;
      continue;
    }
    d.exists = true;
    if (tree_parse(data, len, s->hash_len, &d.entries, &d.n) != 0) {
      result = -1;
      break;
    }
    // Each tree must be the one its parent (or the tip) names: otherwise
    // HEAD moved between two reads.
    if (i == 0) {
      if (strcmp(d.hex, tree_of_tip) != 0) result = 1;
      continue;
    }
    const char *slash = strrchr(d.path, '/');
    size_t plen = slash ? (size_t)(slash - d.path) : 0;
    const char *base = slash ? slash + 1 : d.path;
    const snap_dir *parent = snapshot_dir(s, d.path, plen);
    long at = parent ? tree_find(parent->entries, parent->n, base, strlen(base)) : -1;
    char hex[HASH_HEX_CAP];
    if (at < 0) {
      result = 1;
      break;
    }
    hash_to_hex(parent->entries[at].hash, s->hash_len, hex);
    if (strcmp(hex, d.hex) != 0) result = 1;
  }
  for (size_t i = 0; i < n_extra && result == 0; i++) {
    name += strlen(name) + 1;
    if (!next_object(s->raw, &pos, name, &s->objects[i].found, s->objects[i].hex, &type, &type_len,
                     &data, &len))
      result = -1;
  }
  strbuf_release(&input);
  if (result == -1) set_error("Unexpected output from git cat-file");
  if (result != 0) snapshot_release(s);
  return result;
}

int snapshot_lookup(const snapshot *s, const char *repo, char mode[8], char hex[HASH_HEX_CAP]) {
  const char *slash = strrchr(repo, '/');
  size_t plen = slash ? (size_t)(slash - repo) : 0;
  const char *base = slash ? slash + 1 : repo;
  // Every directory on the way must be a tree or absent.
  for (size_t i = 0; i < s->n_dirs; i++) {
    const snap_dir &d = s->dirs[i];
    size_t dl = strlen(d.path);
    bool on_way = dl == 0 || (dl <= plen && memcmp(d.path, repo, dl) == 0 && (dl == plen || repo[dl] == '/'));
    if (on_way && d.blocked) return -1;
  }
  const snap_dir *d = snapshot_dir(s, repo, plen);
  if (!d || !d->exists) return 0;
  long at = tree_find(d->entries, d->n, base, strlen(base));
  if (at < 0) return 0;
  const raw_tree_entry &e = d->entries[at];
  if (mode_is_tree(e.mode, e.mode_len) || e.mode_len >= 8) return -1;
  memcpy(mode, e.mode, e.mode_len);
  mode[e.mode_len] = '\0';
  hash_to_hex(e.hash, s->hash_len, hex);
  return 1;
}
