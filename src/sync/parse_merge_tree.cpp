#include <stdlib.h>
#include <string.h>

#include "sync/merge_tree.h"

void merge_tree_release(merge_tree_result *res) {
  for (size_t i = 0; i < res->n_paths; i++) free(res->paths[i]);
  free(res->paths);
  *res = {};
}

static bool is_hex(const char *s, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return false;
  return true;
}

int parse_merge_tree(const char *out, size_t len, merge_tree_result *res) {
  *res = {};
  if (!out) return -1;
  const char *end = out + len;
  const char *nul = static_cast<const char *>(memchr(out, '\0', len));
  size_t hl = nul ? (size_t)(nul - out) : 0;
  // A tree name is 40 (SHA-1) or 64 (SHA-256) hex digits, then NUL.
  if ((hl != 40 && hl != 64) || !is_hex(out, hl)) return -1;
  memcpy(res->tree, out, hl);
  res->tree[hl] = '\0';
  size_t cap = 0;
  for (const char *p = nul + 1; p < end;) {
    const char *z = static_cast<const char *>(memchr(p, '\0', (size_t)(end - p)));
    if (!z) break;  // a cut record is not a path
    size_t n = (size_t)(z - p);
    if (n == 0) break;  // the messages section, when there is one
    bool seen = false;
    for (size_t i = 0; i < res->n_paths && !seen; i++)
      seen = strlen(res->paths[i]) == n && memcmp(res->paths[i], p, n) == 0;
    if (!seen) {
      if (res->n_paths == cap) {
        size_t grown = cap ? 2 * cap : 8;
        char **items = static_cast<char **>(realloc(res->paths, grown * sizeof *items));
        if (!items) {
          merge_tree_release(res);
          return -1;
        }
        res->paths = items;
        cap = grown;
      }
      char *copy = static_cast<char *>(malloc(n + 1));
      if (!copy) {
        merge_tree_release(res);
        return -1;
      }
      memcpy(copy, p, n + 1);
      res->paths[res->n_paths++] = copy;
    }
    p = z + 1;
  }
  return 0;
}
