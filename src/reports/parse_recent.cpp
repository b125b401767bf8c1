#include <string.h>

#include "frame/utf8.h"
#include "reports/json.h"
#include "reports/parse.h"

// Copies [p, p+n) into a fixed field, cut to its capacity less one and
// never inside a character, so UTF-8 in stays UTF-8 in the report.
static void fill(char *field, size_t cap, const char *p, size_t n) { utf8_copy_cut(field, cap, p, n); }

struct commit_fields {
  char hash[RECENT_HASH_CAP];
  char author[RECENT_AUTHOR_CAP];
  char date[RECENT_DATE_CAP];
  char summary[RECENT_SUMMARY_CAP];
};

// Fills the fields in order as their separators are found; a field whose
// separator is missing, and every field after it, keeps its old value.
static void read_commit_line(span rest, commit_fields *c) {
  char *const fields[3] = {c->hash, c->author, c->date};
  const size_t caps[3] = {sizeof c->hash, sizeof c->author, sizeof c->date};
  const char *p = rest.p, *end = rest.p + rest.n;
  for (int i = 0; i < 3; i++) {
    const char *sep = static_cast<const char *>(memchr(p, 0x1f, (size_t)(end - p)));
    if (!sep) return;
    fill(fields[i], caps[i], p, (size_t)(sep - p));
    p = sep + 1;
  }
  fill(c->summary, sizeof c->summary, p, (size_t)(end - p));
}

void recent_json(const char *text, strbuf *out) {
  commit_fields c = {};
  strbuf scratch = {};
  span name;
  bool first = true;
  strbuf_append(out, "[", 1);
  span line;
  while (next_text_line(&text, &line)) {
    if (line.n >= 7 && memcmp(line.p, "commit:", 7) == 0) {
      read_commit_line({line.p + 7, line.n - 7}, &c);
      continue;
    }
    const char *tab = static_cast<const char *>(memchr(line.p, '\t', line.n));
    if (!tab) continue;
    const char *path = tab + 1, *end = line.p + line.n;
    while (path < end && (*path == ' ' || *path == '\t')) path++;
    if (!page_name_of({path, (size_t)(end - path)}, &scratch, &name)) continue;
    if (!first) strbuf_append(out, ",", 1);
    first = false;
    strbuf_append(out, "{\"hash\":", 8);
    strbuf_append_json_str(out, c.hash);
    strbuf_append(out, ",\"author\":", 10);
    strbuf_append_json_str(out, c.author);
    strbuf_append(out, ",\"date\":", 8);
    strbuf_append_json_str(out, c.date);
    strbuf_append(out, ",\"summary\":", 11);
    strbuf_append_json_str(out, c.summary);
    strbuf_append(out, ",\"page\":", 8);
    strbuf_append_json_bytes(out, name.p, name.n);
    strbuf_append(out, "}", 1);
  }
  strbuf_append(out, "]", 1);
  strbuf_release(&scratch);
}
