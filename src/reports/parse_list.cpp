#include <string.h>

#include "reports/json.h"
#include "reports/parse.h"

void list_json(const char *text, const char *prefix, strbuf *out) {
  const size_t prefix_len = prefix ? strlen(prefix) : 0;
  strbuf scratch = {};
  span line, name;
  bool first = true;
  strbuf_append(out, "[", 1);
  while (next_text_line(&text, &line)) {
    if (!page_name_of(line, &scratch, &name)) continue;
    if (prefix_len && (name.n < prefix_len || memcmp(name.p, prefix, prefix_len) != 0)) continue;
    if (!first) strbuf_append(out, ",", 1);
    strbuf_append_json_bytes(out, name.p, name.n);
    first = false;
  }
  strbuf_append(out, "]", 1);
  strbuf_release(&scratch);
}
