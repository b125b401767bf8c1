#include "store/tree_entry.h"

#include <string.h>

// Copies the field that ends at stop into out (cap bytes with its NUL).
static bool field(const char **p, const char *end, char stop, char *out, size_t cap) {
  const char *q = static_cast<const char *>(memchr(*p, stop, (size_t)(end - *p)));
  if (!q || q == *p || (size_t)(q - *p) >= cap) return false;
  memcpy(out, *p, (size_t)(q - *p));
  out[q - *p] = '\0';
  *p = q + 1;
  return true;
}

bool next_tree_entry(const char *text, size_t len, size_t *pos, tree_entry *e) {
  if (!text || *pos >= len) return false;
  const char *p = text + *pos, *const end = text + len;
  const char *nul = static_cast<const char *>(memchr(p, '\0', (size_t)(end - p)));
  const char *record_end = nul ? nul : end;
  if (!field(&p, record_end, ' ', e->mode, sizeof e->mode) ||
      !field(&p, record_end, ' ', e->type, sizeof e->type) ||
      !field(&p, record_end, '\t', e->hash, sizeof e->hash) || p >= record_end)
    return false;
  for (const char *c = e->hash; *c; c++)
    if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
  e->path = p;
  e->path_len = (size_t)(record_end - p);
  *pos = (size_t)(record_end - text) + (nul ? 1 : 0);
  return true;
}
