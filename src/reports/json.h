// JSON string literals for the reports.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

// Appends text as a JSON string: '"' and '\' escaped, \b \f \n \r \t for
// those controls, \u00XX for the other bytes below 0x20, every other byte
// (UTF-8 included) unchanged. 0, or -1 at the first append that fails.
int strbuf_append_json_str(strbuf *buf, const char *text);

// The same for n bytes that hold no 0 byte.
int strbuf_append_json_bytes(strbuf *buf, const char *bytes, size_t n);

// The length of what strbuf_append_json_bytes appends for these bytes.
size_t json_bytes_length(const char *bytes, size_t n);
