#include <string.h>

#include "reports/json.h"
#include "reports/parse.h"

// Drops one carriage return at each end of a line.
static span trim_cr(span line) {
  if (line.n && line.p[0] == '\r') line = {line.p + 1, line.n - 1};
  if (line.n && line.p[line.n - 1] == '\r') line.n--;
  return line;
}

void list_json(const char *text, const char *prefix, strbuf *out) {
  const size_t prefix_len = prefix ? strlen(prefix) : 0;
  strbuf scratch = {};
  span name;
  bool first = true;
  strbuf_append(out, "[", 1);
  span line;
  while (next_line(&text, &line)) {
    line = trim_cr(line);
    if (line.n == 0 || !page_name_of(line, &scratch, &name)) continue;
    if (prefix_len && (name.n < prefix_len || memcmp(name.p, prefix, prefix_len) != 0)) continue;
    if (!first) strbuf_append(out, ",", 1);
    strbuf_append_json_bytes(out, name.p, name.n);
    first = false;
  }
  strbuf_append(out, "]", 1);
  strbuf_release(&scratch);
}
