// UTF-8 to UTF-16 and back, for the Windows services that take wide strings.
// Built only on Windows (utf16_win.cpp): every string the library takes or
// returns is UTF-8, and the wide forms never leave the platform files.
#pragma once

#include <stddef.h>

// A new heap copy of s in UTF-16 (release with free), or null when s is not
// valid UTF-8 (a name that cannot be converted exactly must not name some
// other file) or memory ran out (counted).
wchar_t *utf8_to_wide(const char *s);

// As utf8_to_wide, but an invalid sequence becomes U+FFFD instead of failing:
// for texts that are only passed along (authors, messages).
wchar_t *utf8_to_wide_lossy(const char *s);

// Converts len UTF-16 units of w to UTF-8 into out (cap bytes, NUL added).
// False when it does not fit or w is not valid UTF-16.
bool wide_to_utf8(const wchar_t *w, size_t len, char *out, size_t cap);
