#include "store/git_path_rules.h"

#include <stdint.h>
#include <string.h>

static char lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// ".git" or "git~1" (case-insensitive), then only dots and spaces up to the
// end or a ':' (Windows drops the first two, the rest names a stream).
static bool is_ntfs_dotgit(const char *c, size_t n) {
  size_t i;
  if (n >= 4 && c[0] == '.' && lower(c[1]) == 'g' && lower(c[2]) == 'i' && lower(c[3]) == 't')
    i = 4;
  else if (n >= 5 && lower(c[0]) == 'g' && lower(c[1]) == 'i' && lower(c[2]) == 't' &&
           c[3] == '~' && c[4] == '1')
    i = 5;
  else
    return false;
  for (; i < n; i++) {
    if (c[i] == ':') return true;
    if (c[i] != '.' && c[i] != ' ') return false;
  }
  return true;
}

// Decodes one UTF-8 sequence at c[*i]; invalid bytes come back as themselves
// (above 0x10FFFF, so they match nothing HFS ignores).
static uint32_t next_code_point(const char *c, size_t n, size_t *i) {
  const unsigned char b = (unsigned char)c[*i];
  size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || *i + len > n) {
    (*i)++;
    return 0x200000u + b;
  }
  uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
  for (size_t k = 1; k < len; k++) {
    const unsigned char t = (unsigned char)c[*i + k];
    if ((t & 0xC0) != 0x80) {
      (*i)++;
      return 0x200000u + b;
    }
    cp = (cp << 6) | (t & 0x3Fu);
  }
  *i += len;
  return cp;
}

// The code points HFS+ leaves out when it compares names.
static bool hfs_ignored(uint32_t cp) {
  return (cp >= 0x200C && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x206A && cp <= 0x206F) || cp == 0xFEFF;
}

// ".git" once the ignored code points are dropped, in any letter case.
static bool is_hfs_dotgit(const char *c, size_t n) {
  static const char want[] = ".git";
  size_t i = 0, matched = 0;
  while (i < n) {
    const uint32_t cp = next_code_point(c, n, &i);
    if (hfs_ignored(cp)) continue;
    if (matched == 4 || cp > 0x7F || lower((char)cp) != want[matched]) return false;
    matched++;
  }
  return matched == 4;
}

bool git_accepts_component(const char *c, size_t n) {
  if (n == 0) return false;
  if (c[0] == '.' && (n == 1 || (n == 2 && c[1] == '.'))) return false;
  return !is_ntfs_dotgit(c, n) && !is_hfs_dotgit(c, n);
}

bool git_accepts_path(const char *path) {
  if (!path || !*path) return false;
  const char *p = path;
  for (;;) {
    const char *slash = strchr(p, '/');
    const size_t n = slash ? (size_t)(slash - p) : strlen(p);
    if (!git_accepts_component(p, n)) return false;
    if (!slash) return true;
    p = slash + 1;
  }
}
