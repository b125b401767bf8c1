// Cutting text without splitting a UTF-8 character.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct strbuf;

// The length of text[0, n) less a UTF-8 sequence that the end of those n
// bytes cut short. Valid UTF-8 cut anywhere and then passed through here
// stays valid; bytes that are not UTF-8 are left as they are.
size_t utf8_whole(const char *text, size_t n);

// Copies at most cap - 1 bytes of text[0, n) into out, never the first part
// of a character, and terminates it. Returns the length copied.
size_t utf8_copy_cut(char *out, size_t cap, const char *text, size_t n);

// Appends code point cp (at most 0x10FFFF) as UTF-8. 0, or -1 when memory
// ran out (as strbuf_append).
int utf8_append(strbuf *out, uint32_t cp);
