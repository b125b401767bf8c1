#include "reports/json.h"

#include <stdint.h>
#include <string.h>

// How each byte below 0x20, the quote and the backslash is written; 0 means
// the byte stands for itself.
static const char *escape_of(unsigned char c) {
  static const char *const controls[32] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
  };
  if (c < 0x20) return controls[c];
  if (c == '"') return "\\\"";
  if (c == '\\') return "\\\\";
  return nullptr;
}

static bool is_escaped(unsigned char c) { return escape_of(c) != nullptr; }

int strbuf_append_json_bytes(strbuf *buf, const char *bytes, size_t n) {
  size_t plain = 0;
  while (plain < n && !is_escaped((unsigned char)bytes[plain])) plain++;
  // Names, dates and summaries rarely need an escape: such a text goes in
  // as one piece, quotes included.
  if (plain == n && n < SIZE_MAX - 2) {
    char *p = strbuf_room(buf, n + 2);
    if (!p) return -1;
    p[0] = '"';
    if (n) memcpy(p + 1, bytes, n);
    p[n + 1] = '"';
    p[n + 2] = '\0';
    buf->len += n + 2;
    return 0;
  }
  if (strbuf_append(buf, "\"", 1) != 0) return -1;
  size_t run = 0;  // start of the bytes copied unchanged
  for (size_t i = plain; i < n; i++) {
    const char *esc = escape_of((unsigned char)bytes[i]);
    if (!esc) continue;
    if (i > run && strbuf_append(buf, bytes + run, i - run) != 0) return -1;
    if (strbuf_append_str(buf, esc) != 0) return -1;
    run = i + 1;
  }
  if (n > run && strbuf_append(buf, bytes + run, n - run) != 0) return -1;
  return strbuf_append(buf, "\"", 1);
}

int strbuf_append_json_str(strbuf *buf, const char *text) {
  return strbuf_append_json_bytes(buf, text, strlen(text));
}

size_t json_bytes_length(const char *bytes, size_t n) {
  size_t len = 2;
  for (size_t i = 0; i < n; i++) {
    const char *esc = escape_of((unsigned char)bytes[i]);
    len += esc ? strlen(esc) : 1;
  }
  return len;
}
