// The opaque cursor of the paged histories, and the filter values they
// take. Plain functions, tested and fuzzed apart from git.
//
// A cursor reads "w1.HASH.P.SKIP.CHECK.NEXT" for the whole wiki and
// "p1.HASH.P.SKIP.CHECK.NEXT.HEXTITLE" for a page: the walk restarts from
// HASH (from its parents when P is 1) and skips SKIP commits of it, and for
// a page follows the path of HEXTITLE (the title, hex-encoded, after the
// renames crossed so far). NEXT is "-", or the one commit the walk goes on
// from when every commit still to come descends from it alone: the walk
// then starts there instead of skipping. CHECK ties the cursor to the
// query that made it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "frame/strbuf.h"

enum { CURSOR_HASH_CAP = 65 };

// 2100-01-01 00:00:00 UTC.
#define DATE_FILTER_END ((int64_t)4102444800)

struct page_cursor {
  bool page;
  char hash[CURSOR_HASH_CAP];  // 40 or 64 lowercase hex digits
  bool parents;
  long skip;
  uint32_t check;
  char next[CURSOR_HASH_CAP];  // "" for none
  strbuf title;  // page cursors: the current segment's title
};

// Writes the cursor text into out (emptied first).
bool cursor_format(const page_cursor *c, strbuf *out);
// Reads a cursor; false for any text cursor_format cannot have made.
bool cursor_parse(const char *text, page_cursor *c);

// FNV-1a over the query's parts, each with its length, so that a cursor
// from another query is refused.
uint32_t query_check(const char *kind, const char *title, const char *author, const char *since,
                     const char *until, int flags);

// A date filter as seconds since 1970 (UTC): "@N" or N (digits), or
// "YYYY-MM-DD" with an optional time "HH:MM[:SS]" after 'T' or ' ' and an
// optional zone "Z", "+HH:MM", "+HHMM" or "+HH" (a space may come before
// it); no zone means UTC. False for anything else, or a time before 1970
// or from 2100 on (git reads no year past 2099).
bool parse_date_filter(const char *text, int64_t *seconds);

// The form git is given for seconds: "YYYY-MM-DD HH:MM:SS +0000" (git reads
// "@N" wrongly below 100000000).
void git_date_of(int64_t seconds, char out[40]);
