#include "store/win_names.h"

#include <string.h>

bool utf8_valid(const char *s) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  while (*p) {
    const unsigned c = *p;
    if (c < 0x80) {
      p++;
      continue;
    }
    size_t extra;
    unsigned cp, min;
    if (c >= 0xc2 && c <= 0xdf) {
      extra = 1, cp = c & 0x1f, min = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
      extra = 2, cp = c & 0x0f, min = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return false;  // a continuation byte first, an overlong lead, or beyond U+10FFFF
    }
    for (size_t i = 1; i <= extra; i++) {
      if ((p[i] & 0xc0) != 0x80) return false;  // also stops at the NUL
      cp = (cp << 6) | (p[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    p += extra + 1;
  }
  return true;
}

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

static bool same_ascii_nocase(const char *a, const char *upper, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (ascii_upper(a[i]) != upper[i]) return false;
  return true;
}

// Device names answer to any extension: "nul.txt", "COM1.tar.gz".
static bool is_device_name(const char *name, size_t len) {
  const char *dot = static_cast<const char *>(memchr(name, '.', len));
  size_t n = dot ? (size_t)(dot - name) : len;
  while (n > 0 && name[n - 1] == ' ') n--;  // "CON .txt" is CON too
  if (n == 3) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *dev : devices)
      if (same_ascii_nocase(name, dev, 3)) return true;
    return false;
  }
  const bool com_or_lpt = n >= 4 && (same_ascii_nocase(name, "COM", 3) || same_ascii_nocase(name, "LPT", 3));
  if (!com_or_lpt) return false;
  if (n == 4) return name[3] >= '1' && name[3] <= '9';
  // The superscript digits one to three, in UTF-8, count as digits here.
  if (n == 5 && (unsigned char)name[3] == 0xc2) {
    const unsigned char d = (unsigned char)name[4];
    return d == 0xb9 || d == 0xb2 || d == 0xb3;
  }
  return false;
}

bool win_component_allowed(const char *name, size_t len) {
  if (len == 0) return false;
  for (size_t i = 0; i < len; i++) {
    const unsigned char c = (unsigned char)name[i];
    if (c < 0x20 || strchr("\"*:<>?|", c)) return false;
  }
  if (name[len - 1] == '.' || name[len - 1] == ' ') return false;
  return !is_device_name(name, len);
}

bool win_title_allowed(const char *title) {
  const char *p = title;
  for (;;) {
    const char *start = p;
    while (*p && *p != '/' && *p != '\\') p++;
    if (!win_component_allowed(start, (size_t)(p - start))) return false;
    if (!*p) return true;
    p++;
  }
}
