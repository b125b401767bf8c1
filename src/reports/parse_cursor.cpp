#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "reports/cursor.h"
#include "reports/parse_log.h"

static const char s_hex[] = "0123456789abcdef";

bool cursor_format(const page_cursor *c, strbuf *out) {
  out->len = 0;
  char head[160];
  int n = snprintf(head, sizeof head, "%s.%s.%d.%ld.%08" PRIx32, c->page ? "p1" : "w1", c->hash,
                   c->parents ? 1 : 0, c->skip, c->check);
  if (n < 0 || (size_t)n >= sizeof head || strbuf_append(out, head, (size_t)n) != 0) return false;
  if (strbuf_append(out, ".", 1) != 0 || strbuf_append_str(out, c->next[0] ? c->next : "-") != 0)
    return false;
  if (!c->page) return true;
  if (strbuf_append(out, ".", 1) != 0) return false;
  for (size_t i = 0; i < c->title.len; i++) {
    unsigned char b = (unsigned char)c->title.data[i];
    char pair[2] = {s_hex[b >> 4], s_hex[b & 15]};
    if (strbuf_append(out, pair, 2) != 0) return false;
  }
  return true;
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The field up to the next '.' (or the end) from *p.
static size_t field_len(const char *p) {
  const char *dot = strchr(p, '.');
  return dot ? (size_t)(dot - p) : strlen(p);
}

bool cursor_parse(const char *text, page_cursor *c) {
  c->title.len = 0;
  if (!text) return false;
  const char *p = text;
  size_t n = field_len(p);
  if (n != 2 || p[1] != '1' || (p[0] != 'w' && p[0] != 'p')) return false;
  c->page = p[0] == 'p';
  p += 3;
  if (p[-1] != '.') return false;
  n = field_len(p);
  if (n != 40 && n != 64) return false;
  for (size_t i = 0; i < n; i++)
    if (hex_value(p[i]) < 0) return false;
  memcpy(c->hash, p, n);
  c->hash[n] = '\0';
  p += n;
  if (*p++ != '.') return false;
  if ((p[0] != '0' && p[0] != '1') || p[1] != '.') return false;
  c->parents = p[0] == '1';
  p += 2;
  n = field_len(p);
  if (n == 0 || n > 12 || (n > 1 && p[0] == '0')) return false;
  long skip = 0;
  for (size_t i = 0; i < n; i++) {
    if (p[i] < '0' || p[i] > '9') return false;
    skip = skip * 10 + (p[i] - '0');
  }
  c->skip = skip;
  p += n;
  if (*p++ != '.') return false;
  n = field_len(p);
  if (n != 8) return false;
  uint32_t check = 0;
  for (size_t i = 0; i < 8; i++) {
    int v = hex_value(p[i]);
    if (v < 0) return false;
    check = check * 16 + (uint32_t)v;
  }
  c->check = check;
  p += 8;
  if (*p++ != '.') return false;
  n = field_len(p);
  if (n == 1 && p[0] == '-') {
    c->next[0] = '\0';
  } else {
    if (n != 40 && n != 64) return false;
    for (size_t i = 0; i < n; i++)
      if (hex_value(p[i]) < 0) return false;
    memcpy(c->next, p, n);
    c->next[n] = '\0';
  }
  p += n;
  if (!c->page) return *p == '\0';
  if (*p++ != '.') return false;
  n = strlen(p);
  if (n == 0 || n % 2) return false;
  for (size_t i = 0; i < n; i += 2) {
    int hi = hex_value(p[i]), lo = hex_value(p[i + 1]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    char b = (char)(hi * 16 + lo);
    if (strbuf_append(&c->title, &b, 1) != 0) return false;
  }
  return true;
}

static void fnv(uint32_t *h, const char *s) {
  const char *t = s ? s : "";
  size_t n = strlen(t);
  for (size_t i = 0; i < n; i++) {
    *h ^= (unsigned char)t[i];
    *h *= 16777619u;
  }
  // The length closes each part, so ("ab","") and ("a","b") differ.
  for (int k = 0; k < 4; k++) {
    *h ^= (unsigned char)(n >> (8 * k));
    *h *= 16777619u;
  }
}

uint32_t query_check(const char *kind, const char *title, const char *author, const char *since,
                     const char *until, int flags) {
  uint32_t h = 2166136261u;
  char f[16];
  snprintf(f, sizeof f, "%d", flags);
  fnv(&h, kind);
  fnv(&h, title);
  fnv(&h, author);
  fnv(&h, since);
  fnv(&h, until);
  fnv(&h, f);
  return h;
}

static bool digits(const char **p, int count, int *v) {
  *v = 0;
  for (int i = 0; i < count; i++) {
    char c = (*p)[i];
    if (c < '0' || c > '9') return false;
    *v = *v * 10 + (c - '0');
  }
  *p += count;
  return true;
}

static int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = (unsigned)(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (int64_t)doe - 719468;
}

bool parse_date_filter(const char *text, int64_t *seconds) {
  if (!text || !*text) return false;
  const char *p = text;
  if (*p == '@') p++;
  bool all_digits = *p != '\0';
  for (const char *q = p; *q; q++) all_digits = all_digits && *q >= '0' && *q <= '9';
  if (all_digits) {
    if (strlen(p) > 12) return false;
    *seconds = strtoll(p, nullptr, 10);
    return *seconds < DATE_FILTER_END;
  }
  if (p != text) return false;
  int y, mo, d, hh = 0, mm = 0, ss = 0;
  if (!digits(&p, 4, &y) || *p++ != '-' || !digits(&p, 2, &mo) || *p++ != '-' || !digits(&p, 2, &d))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > mdays[mo - 1] || (mo == 2 && d == 29 && !leap)) return false;
  if ((*p == 'T' || *p == ' ') && p[1] >= '0' && p[1] <= '9') {
    p++;
    if (!digits(&p, 2, &hh) || *p++ != ':' || !digits(&p, 2, &mm)) return false;
    if (*p == ':' && !(p++, digits(&p, 2, &ss))) return false;
    if (hh > 23 || mm > 59 || ss > 60) return false;
  }
  int offset = 0;
  if (*p == ' ') p++;
  if (*p == 'Z') {
    p++;
  } else if (*p == '+' || *p == '-') {
    int sign = *p++ == '-' ? -1 : 1, oh, om = 0;
    if (!digits(&p, 2, &oh)) return false;
    if (*p == ':') p++;
    if (*p && !digits(&p, 2, &om)) return false;
    if (oh > 23 || om > 59) return false;
    offset = sign * (oh * 60 + om);
  }
  if (*p) return false;
  int64_t t = days_from_civil(y, (unsigned)mo, (unsigned)d) * 86400 + hh * 3600 + mm * 60 + ss -
              (int64_t)offset * 60;
  if (t < 0 || t >= DATE_FILTER_END) return false;
  *seconds = t;
  return true;
}

void git_date_of(int64_t seconds, char out[40]) { format_iso_date(seconds, {"+0000", 5}, out); }
