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

bool page_name_of(span path, strbuf *name) {
  name->len = 0;
  if (name->data) name->data[0] = '\0';
  bool ok = path.n > 0 && path.p[0] == '"' ? cquote_decode(path.p, path.n, name)
                                           : strbuf_append(name, path.p, path.n) == 0;
  if (!ok || !name->data) return false;
  for (char *c = name->data; c < name->data + name->len; c++)
    if (*c == '\\') *c = '/';
  // "pages/" + at least one byte + ".wiki"
  static const char head[] = "pages/", tail[] = ".wiki";
  if (name->len <= 11 || memcmp(name->data, head, 6) != 0 ||
      memcmp(name->data + name->len - 5, tail, 5) != 0)
    return false;
  memmove(name->data, name->data + 6, name->len - 11);
  name->len -= 11;
  name->data[name->len] = '\0';
  return true;
}
