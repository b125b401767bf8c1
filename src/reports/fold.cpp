#include "reports/fold.h"

#include <string.h>

#include "frame/utf8.h"

size_t utf8_next(const char *s, size_t n, uint32_t *cp) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  if (n == 0) {
    *cp = 0xFFFFFFFF;
    return 0;
  }
  unsigned char c = p[0];
  size_t len;
  uint32_t v;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if (c >= 0xc2 && c <= 0xdf) {
    len = 2, v = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3, v = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4, v = c & 0x07;
  } else {
    *cp = 0xFFFFFFFF;
    return 1;
  }
  if (n < len) {
    *cp = 0xFFFFFFFF;
    return 1;
  }
  for (size_t k = 1; k < len; k++) {
    if ((p[k] & 0xc0) != 0x80) {
      *cp = 0xFFFFFFFF;
      return 1;
    }
    v = (v << 6) | (p[k] & 0x3f);
  }
  if ((len == 3 && v < 0x800) || (len == 4 && (v < 0x10000 || v > 0x10ffff)) ||
      (v >= 0xd800 && v <= 0xdfff)) {
    *cp = 0xFFFFFFFF;
    return 1;
  }
  *cp = v;
  return len;
}

// The upper and lower case of cp when it is a letter of a paired range.
static bool pair_of(uint32_t cp, uint32_t *upper, uint32_t *lower) {
  struct range {
    uint32_t first, last;
    int kind;  // 0: lower = upper + delta; 1: even upper, odd lower; 2: odd upper, even lower
    uint32_t delta;
  };
  static const range ranges[] = {
      {0x41, 0x5a, 0, 0x20},      {0xc0, 0xd6, 0, 0x20},     {0xd8, 0xde, 0, 0x20},
      {0x100, 0x12f, 1, 0},       {0x132, 0x137, 1, 0},      {0x139, 0x148, 2, 0},
      {0x14a, 0x177, 1, 0},       {0x179, 0x17e, 2, 0},      {0x391, 0x3a1, 0, 0x20},
      {0x3a3, 0x3ab, 0, 0x20},    {0x388, 0x38a, 0, 0x25},   {0x38e, 0x38f, 0, 0x3f},
      {0x3d8, 0x3ef, 1, 0},       {0x410, 0x42f, 0, 0x20},   {0x400, 0x40f, 0, 0x50},
      {0x460, 0x481, 1, 0},       {0x48a, 0x4bf, 1, 0},      {0x4c1, 0x4ce, 2, 0},
      {0x4d0, 0x52f, 1, 0},       {0x531, 0x556, 0, 0x30},   {0x1e00, 0x1e95, 1, 0},
      {0x1ea0, 0x1eff, 1, 0},
  };
  for (const range &r : ranges) {
    if (r.kind == 0) {
      if (cp >= r.first && cp <= r.last) return *upper = cp, *lower = cp + r.delta, true;
      if (cp >= r.first + r.delta && cp <= r.last + r.delta)
        return *upper = cp - r.delta, *lower = cp, true;
    } else if (cp >= r.first && cp <= r.last) {
      bool even = cp % 2 == 0;
      bool is_upper = r.kind == 1 ? even : !even;
      *upper = is_upper ? cp : cp - 1;
      *lower = is_upper ? cp + 1 : cp;
      return true;
    }
  }
  // Single pairs.
  static const uint32_t pairs[][2] = {{0x386, 0x3ac}, {0x38c, 0x3cc}, {0x178, 0xff}, {0x4c0, 0x4cf}};
  for (const auto &p : pairs)
    if (cp == p[0] || cp == p[1]) return *upper = p[0], *lower = p[1], true;
  return false;
}

size_t case_variants(uint32_t cp, uint32_t out[4]) {
  // Sigma has two lower cases.
  if (cp == 0x3a3 || cp == 0x3c3 || cp == 0x3c2) {
    out[0] = 0x3a3, out[1] = 0x3c3, out[2] = 0x3c2;
    return 3;
  }
  uint32_t up, low;
  if (pair_of(cp, &up, &low)) {
    out[0] = up, out[1] = low;
    return 2;
  }
  out[0] = cp;
  return 1;
}

bool fold_text(const char *p, size_t n, strbuf *out) {
  out->len = 0;
  strbuf_append(out, "", 0);
  size_t i = 0;
  while (i < n) {
    uint32_t cp, v[4] = {};
    size_t len = utf8_next(p + i, n - i, &cp);
    if (cp == 0xFFFFFFFF) {
      strbuf_append(out, p + i, len);
    } else {
      size_t k = case_variants(cp, v);
      uint32_t low = v[0];
      for (size_t j = 1; j < k; j++)
        if (v[j] < low) low = v[j];
      utf8_append(out, low);
    }
    i += len;
  }
  return out->data != nullptr;
}

bool needs_pattern(const char *term) {
  size_t n = strlen(term), i = 0;
  while (i < n) {
    uint32_t cp, v[4] = {};
    size_t len = utf8_next(term + i, n - i, &cp);
    if (cp != 0xFFFFFFFF && cp >= 0x80 && case_variants(cp, v) > 1) return true;
    i += len;
  }
  return false;
}

bool term_pattern(const char *term, strbuf *out) {
  out->len = 0;
  strbuf_append(out, "", 0);
  size_t n = strlen(term), i = 0;
  while (i < n) {
    uint32_t cp, v[4] = {};
    size_t len = utf8_next(term + i, n - i, &cp);
    size_t k = cp != 0xFFFFFFFF && cp >= 0x80 ? case_variants(cp, v) : 1;
    if (k > 1) {
      strbuf_append(out, "(", 1);
      for (size_t j = 0; j < k; j++) {
        if (j) strbuf_append(out, "|", 1);
        utf8_append(out, v[j]);
      }
      strbuf_append(out, ")", 1);
    } else if (len == 1 && strchr("\\^$.[]|()*+?{}", term[i])) {
      char esc[2] = {'\\', term[i]};
      strbuf_append(out, esc, 2);
    } else {
      strbuf_append(out, term + i, len);
    }
    i += len;
  }
  return out->data != nullptr;
}
