// git writes a path between double quotes, C-style, when it holds a quote,
// a backslash or a control byte.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

// Decodes the quoted path in [p, p+n) (both quotes included) into out.
// Knows \" \\ \a \b \t \n \v \f \r and three-digit octal escapes. Returns
// false, out then undefined, for anything else: a missing quote, an unknown
// or cut escape, a bare quote inside, an escaped 0 byte, or no memory.
bool cquote_decode(const char *p, size_t n, strbuf *out);
