#include "frame/utf8.h"

#include "frame/strbuf.h"

#include <string.h>

// The length of the sequence a lead byte starts (1 for ASCII and for bytes
// that start none).
static size_t sequence_length(unsigned char c) {
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 1;
}

size_t utf8_whole(const char *text, size_t n) {
  // Look back at most one sequence for the byte that starts the last one.
  for (size_t back = 1; back <= 4 && back <= n; back++) {
    const unsigned char c = (unsigned char)text[n - back];
    if ((c & 0xC0) == 0x80) continue;
    return sequence_length(c) > back ? n - back : n;
  }
  return n;
}

size_t utf8_copy_cut(char *out, size_t cap, const char *text, size_t n) {
  if (n > cap - 1) n = utf8_whole(text, cap - 1);
  memcpy(out, text, n);
  out[n] = '\0';
  return n;
}

int utf8_append(strbuf *out, uint32_t cp) {
  char b[4];
  size_t n;
  if (cp < 0x80) {
    b[0] = (char)cp, n = 1;
  } else if (cp < 0x800) {
    b[0] = (char)(0xc0 | (cp >> 6)), b[1] = (char)(0x80 | (cp & 0x3f)), n = 2;
  } else if (cp < 0x10000) {
    b[0] = (char)(0xe0 | (cp >> 12)), b[1] = (char)(0x80 | ((cp >> 6) & 0x3f));
    b[2] = (char)(0x80 | (cp & 0x3f)), n = 3;
  } else {
    b[0] = (char)(0xf0 | (cp >> 18)), b[1] = (char)(0x80 | ((cp >> 12) & 0x3f));
    b[2] = (char)(0x80 | ((cp >> 6) & 0x3f)), b[3] = (char)(0x80 | (cp & 0x3f)), n = 4;
  }
  return strbuf_append(out, b, n);
}
