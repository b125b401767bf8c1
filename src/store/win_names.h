// The names a Windows volume can hold: plain byte rules, built and tested on
// every platform, applied to titles only by the Windows file services.
#pragma once

#include <stddef.h>

// Whether s is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF): only such text converts to UTF-16 and back unchanged.
bool utf8_valid(const char *s);

// Whether one path component (len bytes, no separator) can be a file or
// directory name on Windows: none of "*:<>?| or a control byte, no final dot
// or blank (Windows drops them, so the name would alias another), and not a
// reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with the
// superscript digits 1-3, in any case, with or without an extension).
bool win_component_allowed(const char *name, size_t len);

// Whether every component of a title (split at '/' and '\') is allowed as
// above; the page's own file then gets ".wiki" added, which changes none of
// these verdicts.
bool win_title_allowed(const char *title);
