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

// One log line as an entry: false for a line the history skips.
static bool parse_history_line(span line, log_entry *e) {
  // A carriage return ending the line stays in the summary.
  if (line.n && line.p[0] == '\r') line = {line.p + 1, line.n - 1};
  if (line.n == 0) return false;
  const char *end = line.p + line.n;
  const char *s1 = next_unit_sep(line.p, end);
  const char *s2 = s1 ? next_unit_sep(s1 + 1, end) : nullptr;
  const char *s3 = s2 ? next_unit_sep(s2 + 1, end) : nullptr;
  if (!s3) return false;
  *e = {{line.p, (size_t)(s1 - line.p)},
        {s1 + 1, (size_t)(s2 - s1 - 1)},
        {s2 + 1, (size_t)(s3 - s2 - 1)},
        {s3 + 1, (size_t)(end - s3 - 1)}};
  return true;
}

size_t parse_history_log(const char *text, log_entry **entries) {
  *entries = nullptr;
  size_t n = 0, cap = 0;
  span line;
  log_entry e;
  while (next_line(&text, &line)) {
    if (!parse_history_line(line, &e)) continue;
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
    (*entries)[n++] = e;
  }
  return n;
}

static int size_fragment(char (&buf)[64], int64_t size) {
  return snprintf(buf, sizeof buf, ",\"size\":%" PRId64 "}", size);
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
    int len = size_fragment(size, sizes ? sizes[i] : (int64_t)0);
    strbuf_append(out, size, (size_t)len);
  }
  strbuf_append(out, "]", 1);
}

void history_json_from_log(const char *text, const int64_t *sizes, size_t n, strbuf *out) {
  // First the exact length, so the text is made in one block.
  size_t len = 2, count = 0;
  span line;
  log_entry e;
  char size[64];
  for (const char *p = text; next_line(&p, &line);) {
    if (!parse_history_line(line, &e)) continue;
    len += (count ? 1 : 0) + 8 + json_bytes_length(e.hash.p, e.hash.n) + 10 +
           json_bytes_length(e.author.p, e.author.n) + 8 + json_bytes_length(e.date.p, e.date.n) +
           11 + json_bytes_length(e.summary.p, e.summary.n) +
           (size_t)size_fragment(size, sizes && count < n ? sizes[count] : 0);
    count++;
  }
  // Without the block the appends grow it as usual.
  strbuf_reserve(out, out->len + len);
  strbuf_append(out, "[", 1);
  count = 0;
  for (const char *p = text; next_line(&p, &line);) {
    if (!parse_history_line(line, &e)) continue;
    if (count) strbuf_append(out, ",", 1);
    append_commit_fields(out, e.hash, e.author, e.date, e.summary);
    int k = size_fragment(size, sizes && count < n ? sizes[count] : 0);
    strbuf_append(out, size, (size_t)k);
    count++;
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

// Where the fields of a record end: its first line feed or 0 byte.
static const char *fields_end(const char *p, const char *end) {
  while (p < end && *p != '\n' && *p != '\0') p++;
  return p;
}

// One diff entry at p (which holds ':'): ":MODES IDS STATUS\0PATH\0", with
// a second path for a rename or copy. *id gets the last id before the
// status (the object after the commit, in plain and combined form), *dest
// the path that object has. Returns the byte after the entry.
static const char *raw_entry(const char *p, const char *end, span *id, span *dest) {
  const char *nul = static_cast<const char *>(memchr(p, '\0', (size_t)(end - p)));
  const char *head_end = nul ? nul : end;
  // The status is the last word of the head, the id the word before it.
  const char *status = head_end;
  while (status > p && status[-1] != ' ') status--;
  const char *id_end = status > p ? status - 1 : p;
  const char *id_start = id_end;
  while (id_start > p && id_start[-1] != ' ') id_start--;
  *id = {id_start, (size_t)(id_end - id_start)};
  *dest = {end, 0};
  if (!nul) return end;
  const int paths = status < head_end && (*status == 'R' || *status == 'C') ? 2 : 1;
  p = nul + 1;
  for (int k = 0; k < paths && p < end; k++) {
    const char *path_end = static_cast<const char *>(memchr(p, '\0', (size_t)(end - p)));
    if (!path_end) path_end = end;
    *dest = {p, (size_t)(path_end - p)};
    p = path_end < end ? path_end + 1 : end;
  }
  return p;
}

static bool hex_id(span id) {
  if (id.n < 40) return false;
  for (size_t i = 0; i < id.n; i++) {
    const char c = id.p[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

size_t parse_history_raw(const char *text, size_t len, const char *path, log_entry **entries,
                         span **blobs) {
  *entries = nullptr;
  *blobs = nullptr;
  if (!text) return 0;
  const char *p = text, *end = text + len;
  const size_t path_len = strlen(path);
  size_t n = 0, cap = 0;
  while (p < end) {
    const char *f_end = fields_end(p, end);
    const span fields = {p, (size_t)(f_end - p)};
    p = f_end < end ? f_end + 1 : end;
    span blob = {p, 0};
    int matches = 0;
    if (f_end < end && *f_end == '\n') {
      while (p < end && *p == ':') {
        span id, dest;
        p = raw_entry(p, end, &id, &dest);
        if (dest.n == path_len && memcmp(dest.p, path, path_len) == 0 && hex_id(id)) {
          blob = id;
          matches++;
        }
      }
      if (p < end && *p == '\0') p++;  // the separator before the next commit
    }
    // Two entries for one path would be a form of diff not asked for.
    if (matches != 1) blob = {p, 0};
    log_entry e;
    if (!parse_history_line(fields, &e)) continue;
    if (n == cap) {
      size_t grown = cap ? cap * 2 : 64;
      log_entry *more = static_cast<log_entry *>(realloc(*entries, grown * sizeof **entries));
      if (!more) {
        note_out_of_memory();
        break;
      }
      *entries = more;
      span *more_blobs = static_cast<span *>(realloc(*blobs, grown * sizeof **blobs));
      if (!more_blobs) {
        note_out_of_memory();
        break;
      }
      *blobs = more_blobs;
      cap = grown;
    }
    (*entries)[n] = e;
    (*blobs)[n] = blob;
    n++;
  }
  return n;
}

bool null_object_id(span id) {
  if (id.n == 0) return false;
  for (size_t i = 0; i < id.n; i++)
    if (id.p[i] != '0') return false;
  return true;
}

bool batch_blob_input(const log_entry *entries, const span *blobs, size_t n, const char *path,
                      strbuf *input) {
  const size_t path_len = strlen(path) + 1;  // with its 0 byte
  for (size_t i = 0; i < n; i++) {
    if (null_object_id(blobs[i])) continue;
    const bool ok = blobs[i].n ? strbuf_append(input, blobs[i].p, blobs[i].n) == 0 &&
                                     strbuf_append(input, "", 1) == 0
                               : strbuf_append(input, entries[i].hash.p, entries[i].hash.n) == 0 &&
                                     strbuf_append(input, ":", 1) == 0 &&
                                     strbuf_append(input, path, path_len) == 0;
    if (!ok) return false;
  }
  return true;
}

bool parse_batch_answers(const char *text, const char *questions, size_t count, int64_t *sizes) {
  const char *p = text ? text : "";
  const char *q = questions;
  for (size_t i = 0; i < count; i++) {
    const size_t q_len = strlen(q);
    const char *digits = p;
    while (*p >= '0' && *p <= '9') p++;
    if (p > digits && *p == '\n') {
      sizes[i] = parse_size(digits);
      p++;
    } else {
      // Not found: git echoes the name, which may hold any byte but 0.
      p = digits;
      if (strncmp(p, q, q_len) != 0 || strncmp(p + q_len, " missing\n", 9) != 0) return false;
      sizes[i] = 0;
      p += q_len + 9;
    }
    q += q_len + 1;
  }
  return *p == '\0';
}
