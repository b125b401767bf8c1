#include "sync/record.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int record_parse(const char *data, size_t len, record_entry **entries, size_t *n) {
  *entries = nullptr;
  *n = 0;
  size_t cap = 0;
  for (size_t i = 0; data && i < len;) {
    const char *f[4];
    for (int k = 0; k < 4; k++) {
      const char *z = i < len ? static_cast<const char *>(memchr(data + i, '\0', len - i)) : nullptr;
      if (!z) {
        free(*entries);
        *entries = nullptr;
        *n = 0;
        return -1;
      }
      f[k] = data + i;
      i = (size_t)(z - data) + 1;
    }
    if (*n == cap) {
      cap = cap ? 2 * cap : 8;
      record_entry *grown = static_cast<record_entry *>(realloc(*entries, cap * sizeof **entries));
      if (!grown) {
        free(*entries);
        *entries = nullptr;
        *n = 0;
        return -1;
      }
      *entries = grown;
    }
    (*entries)[(*n)++] = {f[0], f[1], f[2], f[3]};
  }
  return 0;
}

int record_append(strbuf *out, const char *path, const char *ours, const char *theirs,
                  const char *resolved) {
  const char *f[4] = {path, ours, theirs, resolved};
  for (const char *s : f)
    if (strbuf_append(out, s, strlen(s) + 1) != 0) return -1;
  return 0;
}

void record_file(const char *remote, char *out, size_t cap) {
  snprintf(out, cap, ".git/wikidb-sync-%s-conflicts", remote);
}
