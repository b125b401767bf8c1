#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "reports/json.h"
#include "reports/parse.h"

// Finds the next 0x1F in [p, end), or null.
static const char *next_unit_sep(const char *p, const char *end) {
  return static_cast<const char *>(memchr(p, 0x1f, (size_t)(end - p)));
}

size_t parse_history_log(const char *text, log_entry **entries) {
  *entries = nullptr;
  size_t n = 0, cap = 0;
  span line;
  while (next_line(&text, &line)) {
    // A carriage return ending the line stays in the summary.
    if (line.n && line.p[0] == '\r') line = {line.p + 1, line.n - 1};
    if (line.n == 0) continue;
    const char *end = line.p + line.n;
    const char *s1 = next_unit_sep(line.p, end);
    const char *s2 = s1 ? next_unit_sep(s1 + 1, end) : nullptr;
    const char *s3 = s2 ? next_unit_sep(s2 + 1, end) : nullptr;
    if (!s3) continue;
    if (n == cap) {
      size_t grown = cap ? cap * 2 : 64;
      log_entry *more = static_cast<log_entry *>(realloc(*entries, grown * sizeof **entries));
      if (!more) {
        note_out_of_memory();
        break;
      }
      *entries = more;
      cap = grown;
    }
    (*entries)[n++] = {{line.p, (size_t)(s1 - line.p)},
                       {s1 + 1, (size_t)(s2 - s1 - 1)},
                       {s2 + 1, (size_t)(s3 - s2 - 1)},
                       {s3 + 1, (size_t)(end - s3 - 1)}};
  }
  return n;
}

static void append_commit_fields(strbuf *out, const span &hash, const span &author,
                                 const span &date, const span &summary) {
  strbuf_append(out, "{\"hash\":", 8);
  strbuf_append_json_bytes(out, hash.p, hash.n);
  strbuf_append(out, ",\"author\":", 10);
  strbuf_append_json_bytes(out, author.p, author.n);
  strbuf_append(out, ",\"date\":", 8);
  strbuf_append_json_bytes(out, date.p, date.n);
  strbuf_append(out, ",\"summary\":", 11);
  strbuf_append_json_bytes(out, summary.p, summary.n);
}

void history_json(const log_entry *entries, size_t n, const int64_t *sizes, strbuf *out) {
  strbuf_append(out, "[", 1);
  for (size_t i = 0; i < n; i++) {
    const log_entry &e = entries[i];
    if (i) strbuf_append(out, ",", 1);
    append_commit_fields(out, e.hash, e.author, e.date, e.summary);
    char size[64];
    int len = snprintf(size, sizeof size, ",\"size\":%" PRId64 "}", sizes ? sizes[i] : (int64_t)0);
    strbuf_append(out, size, (size_t)len);
  }
  strbuf_append(out, "]", 1);
}

int64_t parse_size(const char *text) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    if (v > (uint64_t)INT64_MAX / 10) return negative ? INT64_MIN : INT64_MAX;  // saturate
    v = v * 10 + (uint64_t)(*p - '0');
  }
  if (v > (uint64_t)INT64_MAX) return negative ? INT64_MIN : INT64_MAX;
  return negative ? -(int64_t)v : (int64_t)v;
}

bool batch_size_input(const log_entry *entries, size_t n, const char *path, strbuf *input) {
  const size_t path_len = strlen(path) + 1;  // with its 0 byte
  for (size_t i = 0; i < n; i++) {
    if (strbuf_append(input, entries[i].hash.p, entries[i].hash.n) != 0 ||
        strbuf_append(input, ":", 1) != 0 || strbuf_append(input, path, path_len) != 0)
      return false;
  }
  return true;
}

// Matches "HASH:PATH" at p, returning the byte after it or null.
static const char *match_name(const char *p, const log_entry &e, const char *path) {
  if (strncmp(p, e.hash.p, e.hash.n) != 0) return nullptr;
  p += e.hash.n;
  if (*p++ != ':') return nullptr;
  size_t n = strlen(path);
  return strncmp(p, path, n) == 0 ? p + n : nullptr;
}

bool parse_batch_sizes(const char *text, const log_entry *entries, size_t n, const char *path,
                       int64_t *sizes) {
  const char *p = text ? text : "";
  for (size_t i = 0; i < n; i++) {
    const char *digits = p;
    while (*p >= '0' && *p <= '9') p++;
    if (p > digits && *p == '\n') {
      sizes[i] = parse_size(digits);
      p++;
      continue;
    }
    // Not found: git echoes the name, which may hold any byte but 0.
    p = match_name(digits, entries[i], path);
    if (!p || strncmp(p, " missing\n", 9) != 0) return false;
    sizes[i] = 0;
    p += 9;
  }
  return *p == '\0';
}
