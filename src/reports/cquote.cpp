#include "reports/cquote.h"

static int simple_escape(char c) {
  switch (c) {
    case '"': return '"';
    case '\\': return '\\';
    case 'a': return '\a';
    case 'b': return '\b';
    case 't': return '\t';
    case 'n': return '\n';
    case 'v': return '\v';
    case 'f': return '\f';
    case 'r': return '\r';
    default: return -1;
  }
}

static bool is_octal(char c) { return c >= '0' && c <= '7'; }

bool cquote_decode(const char *p, size_t n, strbuf *out) {
  if (n < 2 || p[0] != '"' || p[n - 1] != '"') return false;
  const char *end = p + n - 1;
  p++;
  while (p < end) {
    const char *run = p;
    while (p < end && *p != '\\' && *p != '"') p++;
    if (p > run && strbuf_append(out, run, (size_t)(p - run)) != 0) return false;
    if (p == end) break;
    if (*p == '"' || p + 1 >= end) return false;
    int c = simple_escape(p[1]);
    if (c >= 0) {
      p += 2;
    } else if (p + 3 < end && is_octal(p[1]) && is_octal(p[2]) && is_octal(p[3]) && p[1] <= '3') {
      c = (p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0');
      if (c == 0) return false;
      p += 4;
    } else {
      return false;
    }
    char byte = (char)c;
    if (strbuf_append(out, &byte, 1) != 0) return false;
  }
  // A path that was never appended to is still a (empty) text.
  return out->data ? true : strbuf_append(out, "", 0) == 0;
}
