#include <string.h>

#include "frame/strbuf.h"
#include "reports/cquote.h"
#include "reports/parse.h"

bool next_line(const char **cursor, span *line) {
  const char *p = *cursor;
  if (!p || !*p) return false;
  const char *lf = strchr(p, '\n');
  size_t n = lf ? (size_t)(lf - p) : strlen(p);
  *line = {p, n};
  *cursor = lf ? lf + 1 : p + n;
  return true;
}

bool next_text_line(const char **cursor, span *line) {
  while (next_line(cursor, line)) {
    if (line->n && line->p[0] == '\r') *line = {line->p + 1, line->n - 1};
    if (line->n && line->p[line->n - 1] == '\r') line->n--;
    if (line->n) return true;
  }
  return false;
}

bool page_name_of(span path, strbuf *scratch, span *name) {
  span full = path;
  if (path.n > 0 && path.p[0] == '"') {
    scratch->len = 0;
    if (!cquote_decode(path.p, path.n, scratch) || !scratch->data) return false;
    full = {scratch->data, scratch->len};
  }
  if (memchr(full.p, '\\', full.n)) {
    if (full.p != scratch->data) {
      scratch->len = 0;
      if (strbuf_append(scratch, full.p, full.n) != 0) return false;
      full = {scratch->data, scratch->len};
    }
    for (char *c = scratch->data; c < scratch->data + scratch->len; c++)
      if (*c == '\\') *c = '/';
  }
  // "pages/" + at least one byte + ".wiki"
  static const char head[] = "pages/", tail[] = ".wiki";
  if (full.n <= 11 || memcmp(full.p, head, 6) != 0 || memcmp(full.p + full.n - 5, tail, 5) != 0)
    return false;
  *name = {full.p + 6, full.n - 11};
  return true;
}
