#include "write/tree_edit.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"

int tree_parse(const char *data, size_t len, size_t hash_len, raw_tree_entry **entries, size_t *n) {
  *entries = nullptr;
  *n = 0;
  size_t count = 0;
  // Two passes: count, then fill, so that the array is one block.
  for (int pass = 0; pass < 2; pass++) {
    size_t i = 0, k = 0;
    while (i < len) {
      const char *sp = static_cast<const char *>(memchr(data + i, ' ', len - i));
      if (!sp || sp == data + i) goto malformed;
      const char *nul = static_cast<const char *>(memchr(sp + 1, '\0', len - (size_t)(sp + 1 - data)));
      if (!nul || nul == sp + 1) goto malformed;
      size_t end = (size_t)(nul + 1 - data) + hash_len;
      if (end > len) goto malformed;
      if (pass == 1) {
        raw_tree_entry &e = (*entries)[k];
        e.mode = data + i;
        e.mode_len = (size_t)(sp - (data + i));
        e.name = sp + 1;
        e.name_len = (size_t)(nul - (sp + 1));
        e.hash = reinterpret_cast<const unsigned char *>(nul + 1);
      }
      k++;
      i = end;
    }
    if (pass == 0) {
      count = k;
      if (!count) return 0;
      *entries = static_cast<raw_tree_entry *>(malloc(count * sizeof **entries));
      if (!*entries) {
        note_out_of_memory();
        return -1;
      }
    }
  }
  *n = count;
  return 0;
malformed:
  free(*entries);
  *entries = nullptr;
  return -1;
}

long tree_find(const raw_tree_entry *entries, size_t n, const char *name, size_t name_len) {
  for (size_t i = 0; i < n; i++)
    if (entries[i].name_len == name_len && memcmp(entries[i].name, name, name_len) == 0)
      return (long)i;
  return -1;
}

bool mode_is_tree(const char *mode, size_t mode_len) {
  return mode_len == 5 && memcmp(mode, "40000", 5) == 0;
}

namespace {

struct item {
  const char *mode;
  size_t mode_len;
  const char *name;
  size_t name_len;
  const unsigned char *hash;
};

// git's tree order: names compared as bytes, a directory's name as if it
// ended in '/'.
int item_cmp(const void *pa, const void *pb) {
  const item *a = static_cast<const item *>(pa), *b = static_cast<const item *>(pb);
  size_t n = a->name_len < b->name_len ? a->name_len : b->name_len;
  int c = memcmp(a->name, b->name, n);
  if (c) return c;
  unsigned char ca = a->name_len > n ? (unsigned char)a->name[n]
                                     : (mode_is_tree(a->mode, a->mode_len) ? '/' : 0);
  unsigned char cb = b->name_len > n ? (unsigned char)b->name[n]
                                     : (mode_is_tree(b->mode, b->mode_len) ? '/' : 0);
  return (int)ca - (int)cb;
}

}  // namespace

int tree_build(const raw_tree_entry *entries, size_t n, const tree_change *changes, size_t n_changes,
               size_t hash_len, strbuf *out) {
  item *items = static_cast<item *>(malloc((n + n_changes + 1) * sizeof *items));
  if (!items) {
    note_out_of_memory();
    return -1;
  }
  size_t k = 0;
  for (size_t i = 0; i < n; i++) {
    const raw_tree_entry &e = entries[i];
    bool changed = false;
    for (size_t c = 0; c < n_changes && !changed; c++)
      changed = changes[c].name_len == e.name_len && memcmp(changes[c].name, e.name, e.name_len) == 0;
    if (!changed) items[k++] = {e.mode, e.mode_len, e.name, e.name_len, e.hash};
  }
  for (size_t c = 0; c < n_changes; c++) {
    const tree_change &ch = changes[c];
    if (ch.present) items[k++] = {ch.mode, strlen(ch.mode), ch.name, ch.name_len, ch.hash};
  }
  // The entries came sorted; only the few changed ones move, and the sort
  // of a nearly sorted array stays cheap.
  qsort(items, k, sizeof *items, item_cmp);
  int rc = 0;
  for (size_t i = 0; i < k && rc == 0; i++) {
    const item &it = items[i];
    char *p = strbuf_room(out, it.mode_len + 1 + it.name_len + 1 + hash_len);
    if (!p) {
      rc = -1;
      break;
    }
    memcpy(p, it.mode, it.mode_len);
    p += it.mode_len;
    *p++ = ' ';
    memcpy(p, it.name, it.name_len);
    p += it.name_len;
    *p++ = '\0';
    memcpy(p, it.hash, hash_len);
    out->len += it.mode_len + 1 + it.name_len + 1 + hash_len;
    out->data[out->len] = '\0';
  }
  free(items);
  return rc;
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hash_from_hex(const char *hex, size_t hex_len, unsigned char *raw, size_t raw_len) {
  if (hex_len != 2 * raw_len) return false;
  for (size_t i = 0; i < raw_len; i++) {
    int hi = hex_value(hex[2 * i]), lo = hex_value(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    raw[i] = (unsigned char)(hi * 16 + lo);
  }
  return true;
}

void hash_to_hex(const unsigned char *raw, size_t raw_len, char *hex) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < raw_len; i++) {
    hex[2 * i] = digits[raw[i] >> 4];
    hex[2 * i + 1] = digits[raw[i] & 15];
  }
  hex[2 * raw_len] = '\0';
}

size_t hex_run(const char *text, size_t len) {
  size_t i = 0;
  while (i < len && hex_value(text[i]) >= 0) i++;
  return i;
}
