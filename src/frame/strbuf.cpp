#include "frame/strbuf.h"

#include "frame/error.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// Grows the block to hold needed bytes; false when it cannot.
static bool grow(strbuf *buf, size_t needed) {
  size_t cap = buf->cap == 0 ? 256 : buf->cap;
  if (buf->cap != 0) {
    if (cap > SIZE_MAX / 2) return false;
    cap *= 2;
  }
  while (cap < needed) {
    if (cap > SIZE_MAX / 2) return false;
    cap *= 2;
  }
  char *grown = static_cast<char *>(realloc(buf->data, cap));
  if (!grown) return false;
  buf->data = grown;
  buf->cap = cap;
  return true;
}

char *strbuf_room(strbuf *buf, size_t n) {
  if (n > SIZE_MAX - 1 - buf->len || (buf->cap < buf->len + n + 1 && !grow(buf, buf->len + n + 1))) {
    note_out_of_memory();
    return nullptr;
  }
  return buf->data + buf->len;
}

int strbuf_append(strbuf *buf, const void *bytes, size_t n) {
  if (!strbuf_room(buf, n)) return -1;
  if (n) memcpy(buf->data + buf->len, bytes, n);
  buf->len += n;
  buf->data[buf->len] = '\0';
  return 0;
}

int strbuf_reserve(strbuf *buf, size_t len) {
  if (len == SIZE_MAX) return -1;
  if (buf->cap >= len + 1) return 0;
  char *grown = static_cast<char *>(realloc(buf->data, len + 1));
  if (!grown) return -1;
  if (!buf->data) grown[0] = '\0';
  buf->data = grown;
  buf->cap = len + 1;
  return 0;
}

int strbuf_append_str(strbuf *buf, const char *text) { return strbuf_append(buf, text, strlen(text)); }

char *strbuf_detach(strbuf *buf) {
  char *data = buf->data;
  buf->data = nullptr;
  buf->len = buf->cap = 0;
  return data;
}

void strbuf_release(strbuf *buf) { free(strbuf_detach(buf)); }
