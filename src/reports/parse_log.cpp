#include "reports/parse_log.h"

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/utf8.h"
#include "reports/json.h"

bool next_z_field(const char **p, const char *end, span *field) {
  if (*p >= end) return false;
  const char *nul = static_cast<const char *>(memchr(*p, 0, (size_t)(end - *p)));
  const char *stop = nul ? nul : end;
  *field = {*p, (size_t)(stop - *p)};
  *p = nul ? nul + 1 : end;
  return true;
}

template <typename T>
static bool grow_array(T **items, size_t *cap, size_t need) {
  if (need <= *cap) return true;
  size_t grown = *cap ? *cap * 2 : 32;
  while (grown < need) grown *= 2;
  T *more = static_cast<T *>(realloc(*items, grown * sizeof **items));
  if (!more) {
    note_out_of_memory();
    return false;
  }
  *items = more;
  *cap = grown;
  return true;
}

static bool is_status_letter(char c) { return c >= 'A' && c <= 'Z'; }

bool parse_log_z(const char *text, size_t len, log_records *out) {
  *out = {};
  const char *p = text, *end = text ? text + len : text;
  span f;
  // Up to the first record.
  while (p < end && *p != '\x01') {
    if (!next_z_field(&p, end, &f)) break;
  }
  while (p < end && *p == '\x01') {
    p++;
    span fields[8];
    int k = 0;
    for (; k < 8 && next_z_field(&p, end, &fields[k]); k++) {
    }
    if (k < 8) break;  // cut short
    if (!grow_array(&out->recs, &out->cap, out->n + 1)) return false;
    log_record &r = out->recs[out->n++];
    r = {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7],
         out->n_changes, 0};
    // Changed paths: "\n" before the first status, then STATUS, PATH(s).
    while (p < end && *p != '\x01') {
      span status;
      if (!next_z_field(&p, end, &status)) break;
      while (status.n && (status.p[0] == '\n' || status.p[0] == '\r')) status = {status.p + 1, status.n - 1};
      span blob = {nullptr, 0};
      if (status.n && status.p[0] == ':') {
        // ":MODE MODE OLD NEW STATUS[SCORE]": the fourth word is the new object.
        const char *q = status.p, *end_field = status.p + status.n;
        int word = 0;
        const char *w = q;
        for (; q <= end_field; q++) {
          if (q < end_field && *q != ' ') continue;
          if (word == 3) blob = {w, (size_t)(q - w)};
          if (word == 4) status = {w, (size_t)(q - w)};
          word++;
          w = q + 1;
        }
        if (word < 5) continue;
      }
      if (status.n == 0 || !is_status_letter(status.p[0])) continue;
      log_change c = {status.p[0], {nullptr, 0}, {nullptr, 0}, blob};
      span first;
      if (!next_z_field(&p, end, &first)) break;
      if (c.status == 'R' || c.status == 'C') {
        span second;
        if (!next_z_field(&p, end, &second)) break;
        c.old_path = first;
        c.path = second;
      } else {
        c.path = first;
      }
      if (!grow_array(&out->changes, &out->changes_cap, out->n_changes + 1)) return false;
      out->changes[out->n_changes++] = c;
      r.n_changes++;
    }
  }
  return true;
}

void log_records_release(log_records *r) {
  free(r->recs);
  free(r->changes);
  *r = {};
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static bool read_u16(const char *p, const char *end, uint32_t *v) {
  if (end - p < 4) return false;
  *v = 0;
  for (int i = 0; i < 4; i++) {
    int d = hex_digit(p[i]);
    if (d < 0) return false;
    *v = *v * 16 + (uint32_t)d;
  }
  return true;
}

bool json_string_decode(const char *p, size_t n, strbuf *out) {
  out->len = 0;
  if (strbuf_append(out, "", 0) != 0) return false;
  const char *end = p + n;
  if (n < 2 || p[0] != '"' || end[-1] != '"') return false;
  p++;
  end--;
  while (p < end) {
    unsigned char c = (unsigned char)*p++;
    if (c == '"' || c < 0x20) return false;
    if (c != '\\') {
      if (strbuf_append(out, &c, 1) != 0) return false;
      continue;
    }
    if (p >= end) return false;
    char e = *p++;
    const char *simple = strchr("\"\\/bfnrt", e);
    if (e && simple) {
      static const char bytes[] = "\"\\/\b\f\n\r\t";
      if (strbuf_append(out, &bytes[simple - "\"\\/bfnrt"], 1) != 0) return false;
      continue;
    }
    if (e != 'u') return false;
    uint32_t cp;
    if (!read_u16(p, end, &cp)) return false;
    p += 4;
    if (cp >= 0xdc00 && cp <= 0xdfff) return false;
    if (cp >= 0xd800 && cp <= 0xdbff) {
      uint32_t lo;
      if (end - p < 6 || p[0] != '\\' || p[1] != 'u' || !read_u16(p + 2, end, &lo) || lo < 0xdc00 ||
          lo > 0xdfff)
        return false;
      p += 6;
      cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
    }
    if (cp == 0) return false;  // a title never holds a 0 byte
    if (utf8_append(out, cp) != 0) return false;
  }
  return true;
}

// The end of the JSON string starting at p (the byte after its closing
// quote), or null.
static const char *json_string_end(const char *p, const char *end) {
  if (p >= end || *p != '"') return nullptr;
  for (p++; p < end; p++) {
    if (*p == '\\') {
      p++;
      continue;
    }
    if (*p == '"') return p + 1;
  }
  return nullptr;
}

void for_each_rename(span body, void (*fn)(void *ctx, span old_title, span new_title), void *ctx,
                     strbuf *scratch_old, strbuf *scratch_new) {
  static const char key[] = "Wikidb-Rename: ";
  const size_t key_len = sizeof key - 1;
  const char *p = body.p, *end = body.p + body.n;
  while (p < end) {
    const char *lf = static_cast<const char *>(memchr(p, '\n', (size_t)(end - p)));
    const char *line_end = lf ? lf : end;
    const char *q = p;
    p = lf ? lf + 1 : end;
    if (line_end > q && line_end[-1] == '\r') line_end--;
    if ((size_t)(line_end - q) < key_len || memcmp(q, key, key_len) != 0) continue;
    q += key_len;
    const char *old_end = json_string_end(q, line_end);
    if (!old_end || line_end - old_end < 4 || memcmp(old_end, " -> ", 4) != 0) continue;
    const char *new_start = old_end + 4;
    if (json_string_end(new_start, line_end) != line_end) continue;
    if (!json_string_decode(q, (size_t)(old_end - q), scratch_old) ||
        !json_string_decode(new_start, (size_t)(line_end - new_start), scratch_new))
      continue;
    // A backslash in a title names a directory, as '/' does.
    strbuf *both[2] = {scratch_old, scratch_new};
    for (strbuf *t : both)
      for (size_t i = 0; i < t->len; i++)
        if (t->data[i] == '\\') t->data[i] = '/';
    fn(ctx, {scratch_old->data, scratch_old->len}, {scratch_new->data, scratch_new->len});
  }
}

namespace {
// The first rename line whose one side is want: its other side goes to out.
struct find_ctx {
  span want;
  bool want_is_old;
  strbuf *out;
  bool found;
};
}  // namespace

static void find_one(void *vctx, span old_title, span new_title) {
  find_ctx *ctx = static_cast<find_ctx *>(vctx);
  const span mine = ctx->want_is_old ? old_title : new_title;
  const span other = ctx->want_is_old ? new_title : old_title;
  if (ctx->found || mine.n != ctx->want.n || memcmp(mine.p, ctx->want.p, mine.n) != 0) return;
  ctx->out->len = 0;
  ctx->found = strbuf_append(ctx->out, other.p, other.n) == 0;
}

static bool find_rename(span body, span want, bool want_is_old, strbuf *out) {
  strbuf a = {}, b = {};
  find_ctx ctx = {want, want_is_old, out, false};
  for_each_rename(body, find_one, &ctx, &a, &b);
  strbuf_release(&a);
  strbuf_release(&b);
  return ctx.found;
}

bool find_rename_to(span body, const char *new_title, size_t new_len, strbuf *old_title) {
  return find_rename(body, {new_title, new_len}, false, old_title);
}

bool find_rename_from(span body, span old_title, strbuf *new_title) {
  return find_rename(body, old_title, true, new_title);
}

void append_entry_head(strbuf *out, const log_record &r) {
  strbuf_append_str(out, "{\"hash\":");
  strbuf_append_json_bytes(out, r.hash.p, r.hash.n);
  strbuf_append_str(out, ",\"author\":");
  strbuf_append_json_bytes(out, r.author.p, r.author.n);
  strbuf_append_str(out, ",\"email\":");
  strbuf_append_json_bytes(out, r.email.p, r.email.n);
  strbuf_append_str(out, ",\"date\":");
  strbuf_append_json_bytes(out, r.date.p, r.date.n);
  // Digits only (an optional minus): anything else from git reads as 0.
  int64_t t = 0;
  bool neg = r.time.n && r.time.p[0] == '-';
  bool digits = r.time.n > (neg ? 1u : 0u) && r.time.n < 19;
  for (size_t i = neg ? 1 : 0; digits && i < r.time.n; i++) {
    if (r.time.p[i] < '0' || r.time.p[i] > '9') digits = false;
    else t = t * 10 + (r.time.p[i] - '0');
  }
  char num[40];
  int k = snprintf(num, sizeof num, ",\"timestamp\":%" PRId64, digits ? (neg ? -t : t) : (int64_t)0);
  strbuf_append(out, num, (size_t)k);
  strbuf_append_str(out, ",\"summary\":");
  strbuf_append_json_bytes(out, r.subject.p, r.subject.n);
}

namespace {
// A page change of one commit, as it goes out.
struct page_change {
  span name;      // page name (copied into the change's own buffer)
  span from;      // old name for renames
  const char *kind;
  bool dropped;
};

struct pair_ctx {
  page_change *items;
  size_t n;
};
}  // namespace

static bool span_eq(span a, span b) { return a.n == b.n && (a.n == 0 || memcmp(a.p, b.p, a.n) == 0); }

// A recorded rename turns the deletion of OLD and the addition of NEW into
// one renamed change.
static void pair_recorded(void *vctx, span old_title, span new_title) {
  pair_ctx *ctx = static_cast<pair_ctx *>(vctx);
  page_change *del = nullptr, *add = nullptr;
  for (size_t i = 0; i < ctx->n; i++) {
    page_change &c = ctx->items[i];
    if (c.dropped) continue;
    if (!del && strcmp(c.kind, "deleted") == 0 && span_eq(c.name, old_title)) del = &c;
    if (!add && strcmp(c.kind, "added") == 0 && span_eq(c.name, new_title)) add = &c;
  }
  if (!del || !add) return;
  add->kind = "renamed";
  add->from = del->name;
  del->dropped = true;
}

void append_page_changes(strbuf *out, const log_records &all, const log_record &r) {
  strbuf_append_str(out, ",\"pages\":[");
  const size_t n = r.n_changes;
  page_change *items = n ? static_cast<page_change *>(calloc(n, sizeof *items)) : nullptr;
  strbuf *names = n ? static_cast<strbuf *>(calloc(2 * n, sizeof *names)) : nullptr;
  if (n && (!items || !names)) {
    note_out_of_memory();
    free(items);
    free(names);
    strbuf_append_str(out, "]");
    return;
  }
  size_t m = 0;
  for (size_t i = 0; i < n; i++) {
    const log_change &c = all.changes[r.first_change + i];
    span name, from = {nullptr, 0};
    if (!page_name_of(c.path, &names[2 * m], &name)) continue;
    // Copy out of the scratch (page_name_of may point into it or into the log).
    page_change pc = {name, {nullptr, 0}, "modified", false};
    switch (c.status) {
      case 'A': pc.kind = "added"; break;
      case 'D': pc.kind = "deleted"; break;
      case 'C': pc.kind = "added"; break;
      case 'R':
        if (page_name_of(c.old_path, &names[2 * m + 1], &from)) {
          pc.kind = "renamed";
          pc.from = from;
        } else {
          pc.kind = "added";
        }
        break;
      default: break;
    }
    items[m++] = pc;
  }
  strbuf sa = {}, sb = {};
  pair_ctx ctx = {items, m};
  for_each_rename(r.body, pair_recorded, &ctx, &sa, &sb);
  strbuf_release(&sa);
  strbuf_release(&sb);
  bool first = true;
  for (size_t i = 0; i < m; i++) {
    if (items[i].dropped) continue;
    if (!first) strbuf_append_str(out, ",");
    first = false;
    strbuf_append_str(out, "{\"page\":");
    strbuf_append_json_bytes(out, items[i].name.p, items[i].name.n);
    strbuf_append_str(out, ",\"kind\":\"");
    strbuf_append_str(out, items[i].kind);
    strbuf_append_str(out, "\"");
    if (items[i].from.p) {
      strbuf_append_str(out, ",\"from\":");
      strbuf_append_json_bytes(out, items[i].from.p, items[i].from.n);
    }
    strbuf_append_str(out, "}");
  }
  strbuf_append_str(out, "]");
  for (size_t i = 0; i < 2 * n; i++) strbuf_release(&names[i]);
  free(names);
  free(items);
}

void wiki_entries_json(const log_records &all, size_t from, size_t to, strbuf *out) {
  for (size_t i = from; i < to && i < all.n; i++) {
    if (i > from) strbuf_append_str(out, ",");
    append_entry_head(out, all.recs[i]);
    append_page_changes(out, all, all.recs[i]);
    strbuf_append_str(out, "}");
  }
}

static bool parse_long(span s, long *v) {
  if (s.n == 0 || s.n > 18) return false;
  long x = 0;
  for (size_t i = 0; i < s.n; i++) {
    if (s.p[i] < '0' || s.p[i] > '9') return false;
    x = x * 10 + (s.p[i] - '0');
  }
  *v = x;
  return true;
}

bool next_grep_hit(const char **p, const char *end, grep_hit *hit) {
  while (*p < end) {
    const char *lf = static_cast<const char *>(memchr(*p, '\n', (size_t)(end - *p)));
    const char *line_end = lf ? lf : end;
    const char *q = *p;
    *p = lf ? lf + 1 : end;
    span path, line, column;
    if (!next_z_field(&q, line_end, &path) || q >= line_end || !next_z_field(&q, line_end, &line) ||
        q >= line_end || !next_z_field(&q, line_end, &column))
      continue;
    if (q > line_end) q = line_end;
    if (!parse_long(line, &hit->line) || !parse_long(column, &hit->column)) continue;
    hit->path = path;
    hit->text = {q, (size_t)(line_end - q)};
    if (hit->text.n && hit->text.p[hit->text.n - 1] == '\r') hit->text.n--;
    return true;
  }
  return false;
}

// The longest prefix of at most cap bytes that does not end inside a UTF-8
// sequence.
static size_t utf8_cut(const char *p, size_t n, size_t cap) {
  if (n <= cap) return n;
  size_t k = cap;
  while (k > 0 && ((unsigned char)p[k] & 0xc0) == 0x80) k--;
  return k;
}

bool append_hit_json(strbuf *out, strbuf *scratch, const grep_hit &hit, size_t text_cap) {
  span name;
  if (!page_name_of(hit.path, scratch, &name)) return false;
  char nums[80];
  strbuf_append_str(out, "{\"page\":");
  strbuf_append_json_bytes(out, name.p, name.n);
  int k = snprintf(nums, sizeof nums, ",\"line\":%ld,\"column\":%ld,\"text\":", hit.line, hit.column);
  strbuf_append(out, nums, (size_t)k);
  strbuf_append_json_bytes(out, hit.text.p, utf8_cut(hit.text.p, hit.text.n, text_cap));
  strbuf_append_str(out, "}");
  return true;
}

// ---- blame

static bool starts_with(span s, const char *prefix, span *rest) {
  size_t n = strlen(prefix);
  if (s.n < n || memcmp(s.p, prefix, n) != 0) return false;
  *rest = {s.p + n, s.n - n};
  return true;
}

static bool is_hex_span(span s) {
  if (s.n != 40 && s.n != 64) return false;
  for (size_t i = 0; i < s.n; i++)
    if (hex_digit(s.p[i]) < 0) return false;
  return true;
}

bool parse_blame(const char *text, size_t len, blame_result *out) {
  *out = {};
  const char *p = text, *end = text ? text + len : text;
  blame_line *pending = nullptr;
  size_t current = 0;
  while (p < end) {
    const char *lf = static_cast<const char *>(memchr(p, '\n', (size_t)(end - p)));
    span line = {p, (size_t)((lf ? lf : end) - p)};
    p = lf ? lf + 1 : end;
    if (line.n && line.p[0] == '\t') {
      if (!pending) return false;
      pending->text = {line.p + 1, line.n - 1};
      pending = nullptr;
      continue;
    }
    span rest;
    if (pending) {
      blame_commit &c = out->commits[current];
      if (starts_with(line, "author ", &rest)) c.author = rest;
      else if (starts_with(line, "author-mail ", &rest)) c.mail = rest;
      else if (starts_with(line, "author-time ", &rest)) {
        long t;
        c.time = parse_long(rest, &t) ? t : 0;
      } else if (starts_with(line, "author-tz ", &rest)) c.tz = rest;
      else if (starts_with(line, "summary ", &rest)) c.summary = rest;
      else if (starts_with(line, "filename ", &rest)) c.filename = rest;
      else if (starts_with(line, "previous ", &rest)) c.has_previous = true;
      else if (line.n == 8 && memcmp(line.p, "boundary", 8) == 0) c.boundary = true;
      continue;
    }
    // "HASH ORIG FINAL [COUNT]"
    const char *sp = static_cast<const char *>(memchr(line.p, ' ', line.n));
    if (!sp) return false;
    span hash = {line.p, (size_t)(sp - line.p)};
    if (!is_hex_span(hash)) return false;
    const char *a = sp + 1, *lend = line.p + line.n;
    const char *sp2 = static_cast<const char *>(memchr(a, ' ', (size_t)(lend - a)));
    if (!sp2) return false;
    const char *b = sp2 + 1;
    const char *sp3 = static_cast<const char *>(memchr(b, ' ', (size_t)(lend - b)));
    long orig, fin;
    if (!parse_long({a, (size_t)(sp2 - a)}, &orig) ||
        !parse_long({b, (size_t)((sp3 ? sp3 : lend) - b)}, &fin))
      return false;
    size_t k = 0;
    while (k < out->n_commits && !span_eq(out->commits[k].hash, hash)) k++;
    if (k == out->n_commits) {
      if (!grow_array(&out->commits, &out->commits_cap, out->n_commits + 1)) return false;
      out->commits[out->n_commits++] = blame_commit{hash, {"", 0}, {"", 0}, {"", 0}, {"", 0},
                                                     {"", 0}, 0, false, false};
    }
    current = k;
    if (!grow_array(&out->lines, &out->lines_cap, out->n_lines + 1)) return false;
    pending = &out->lines[out->n_lines++];
    *pending = {k, orig, fin, {"", 0}};
  }
  return pending == nullptr;
}

void blame_result_release(blame_result *b) {
  free(b->commits);
  free(b->lines);
  *b = {};
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
static void civil_from_days(int64_t z, int64_t *y, unsigned *m, unsigned *d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = (unsigned)(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = (int64_t)yoe + era * 400 + (*m <= 2);
}

void format_iso_date(int64_t unix_time, span tz, char out[40]) {
  int offset = 0;
  char zone[6] = "+0000";
  if (tz.n == 5 && (tz.p[0] == '+' || tz.p[0] == '-')) {
    bool ok = true;
    for (int i = 1; i < 5; i++) ok = ok && tz.p[i] >= '0' && tz.p[i] <= '9';
    if (ok) {
      memcpy(zone, tz.p, 5);
      offset = ((tz.p[1] - '0') * 10 + (tz.p[2] - '0')) * 60 + (tz.p[3] - '0') * 10 + (tz.p[4] - '0');
      if (tz.p[0] == '-') offset = -offset;
    }
  }
  // Bound the time so the arithmetic stays in range.
  if (unix_time > (int64_t)1 << 40) unix_time = (int64_t)1 << 40;
  if (unix_time < -((int64_t)1 << 40)) unix_time = -((int64_t)1 << 40);
  int64_t t = unix_time + (int64_t)offset * 60;
  int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
  int64_t secs = t - days * 86400;
  int64_t y;
  unsigned m, d;
  civil_from_days(days, &y, &m, &d);
  // The year is bounded by the clamp above; the text always fits.
  char text[96];
  snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d %s", (int)y, m, d, (int)(secs / 3600),
           (int)(secs / 60 % 60), (int)(secs % 60), zone);
  size_t n = strlen(text);
  if (n > 39) n = 39;
  memcpy(out, text, n);
  out[n] = '\0';
}

void append_blame_line(strbuf *out, const blame_result &b, const blame_line &l, long line_no,
                       strbuf *scratch) {
  const blame_commit &c = b.commits[l.commit];
  char buf[80];
  int k = snprintf(buf, sizeof buf, "{\"line\":%ld,\"hash\":", line_no);
  strbuf_append(out, buf, (size_t)k);
  strbuf_append_json_bytes(out, c.hash.p, c.hash.n);
  strbuf_append_str(out, ",\"author\":");
  strbuf_append_json_bytes(out, c.author.p, c.author.n);
  span mail = c.mail;
  if (mail.n >= 2 && mail.p[0] == '<' && mail.p[mail.n - 1] == '>') mail = {mail.p + 1, mail.n - 2};
  strbuf_append_str(out, ",\"email\":");
  strbuf_append_json_bytes(out, mail.p, mail.n);
  char date[40];
  format_iso_date(c.time, c.tz, date);
  strbuf_append_str(out, ",\"date\":");
  strbuf_append_json_str(out, date);
  k = snprintf(buf, sizeof buf, ",\"timestamp\":%" PRId64 ",\"summary\":", c.time);
  strbuf_append(out, buf, (size_t)k);
  strbuf_append_json_bytes(out, c.summary.p, c.summary.n);
  span name;
  strbuf_append_str(out, ",\"page\":");
  if (page_name_of(c.filename, scratch, &name))
    strbuf_append_json_bytes(out, name.p, name.n);
  else
    strbuf_append_json_bytes(out, c.filename.p, c.filename.n);
  strbuf_append_str(out, ",\"text\":");
  strbuf_append_json_bytes(out, l.text.p, l.text.n);
  strbuf_append_str(out, "}");
}

// "@@ -a[,b] +c[,d] @@": reads a number at *p.
static bool read_num(const char **p, const char *end, long *v) {
  const char *s = *p;
  long x = 0;
  while (*p < end && **p >= '0' && **p <= '9' && x < 100000000) x = x * 10 + (*(*p)++ - '0');
  *v = x;
  return *p > s;
}

long map_line_back(const char *diff, size_t len, long new_line) {
  const char *p = diff, *end = diff ? diff + len : diff;
  long shift = 0;  // old - new for lines after the hunks seen so far
  while (p < end) {
    const char *lf = static_cast<const char *>(memchr(p, '\n', (size_t)(end - p)));
    const char *line_end = lf ? lf : end;
    const char *q = p;
    p = lf ? lf + 1 : end;
    if (line_end - q < 4 || memcmp(q, "@@ -", 4) != 0) continue;
    q += 4;
    long a, b = 1, c, d = 1;
    if (!read_num(&q, line_end, &a)) continue;
    if (q < line_end && *q == ',' && (q++, !read_num(&q, line_end, &b))) continue;
    if (line_end - q < 2 || q[0] != ' ' || q[1] != '+') continue;
    q += 2;
    if (!read_num(&q, line_end, &c)) continue;
    if (q < line_end && *q == ',' && (q++, !read_num(&q, line_end, &d))) continue;
    // With -U0 a hunk of d new lines starts at c (after line c when d is 0).
    const long first_new = d == 0 ? c + 1 : c;
    if (new_line < first_new) return new_line + shift;
    if (new_line < first_new + d) return 0;  // made by the change
    const long first_old = b == 0 ? a + 1 : a;
    shift = (first_old + b) - (first_new + d);
  }
  return new_line + shift;
}
