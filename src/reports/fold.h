// Case folding for search, the same on every platform: simple one-to-one
// letter case of Latin (ASCII, Latin-1, Latin Extended-A and Additional),
// Greek (with final sigma), Cyrillic and Armenian. Other scripts compare
// exactly.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "frame/strbuf.h"

// Every code point that folds together with cp (cp included), at most 4;
// returns the count.
size_t case_variants(uint32_t cp, uint32_t out[4]);

// Decodes one UTF-8 sequence at p (n bytes left): its length, and the code
// point in *cp; a byte that starts no valid sequence reads as itself with
// length 1 and *cp = 0xFFFFFFFF.
size_t utf8_next(const char *p, size_t n, uint32_t *cp);

// The folded form of a text: each letter replaced by its lowest variant.
bool fold_text(const char *p, size_t n, strbuf *out);

// A fixed-string term as an extended regular expression that matches it in
// every letter case: ASCII letters are left to git's --ignore-case, other
// letters become alternations "(Ü|ü)", and every special byte is escaped.
bool term_pattern(const char *term, strbuf *out);

// Whether the term holds a letter outside ASCII that has other cases.
bool needs_pattern(const char *term);
