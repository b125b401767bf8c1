// Growable NUL-terminated byte string. A zero-filled record is empty; once
// data is set, data[len] == 0 and len + 1 <= cap. data is plain heap memory
// released with free() by whoever ends up owning it.
#pragma once

#include <stddef.h>

struct strbuf {
  char *data;
  size_t len;
  size_t cap;
};

// Appends n bytes (any values). 0 on success; -1 when the block could not be
// grown, the record then left exactly as it was and the failure counted
// (out_of_memory_count).
int strbuf_append(strbuf *buf, const void *bytes, size_t n);

// Makes room for n more bytes after the text, and a NUL after them, growing
// the block as strbuf_append does. Returns where they go: the caller writes
// them, adds n to len and puts the NUL back. Null, the record unchanged and
// the failure counted, when the block could not be grown.
char *strbuf_room(strbuf *buf, size_t n);

// Makes room for a text of len bytes in one block, so that appends up to it
// never move the text. 0 on success; -1, the record unchanged and nothing
// counted, when the block cannot be had (appends then grow it as usual).
int strbuf_reserve(strbuf *buf, size_t len);

// Appends a NUL-terminated text.
int strbuf_append_str(strbuf *buf, const char *text);

// Hands the text over to the caller (null when nothing was ever appended)
// and leaves the record empty.
char *strbuf_detach(strbuf *buf);

// Frees the text and leaves the record empty.
void strbuf_release(strbuf *buf);
