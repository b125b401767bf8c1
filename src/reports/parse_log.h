// Parsers of the NUL-separated git output behind the paged reads: logs,
// rename trailers, grep, blame and diff hunk headers. Plain functions from
// bytes to records or JSON, apart from running git, so that they can be
// tested and fuzzed on their own. Inputs are (pointer, length): 0 bytes are
// separators here, not ends.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "frame/strbuf.h"
#include "reports/parse.h"

// One changed path of a commit: git's status letter ('A', 'M', 'D', 'R',
// ...), the path, and for renames and copies the old path.
struct log_change {
  char status;
  span path, old_path;
  span blob;  // with --raw: the object the path has after the commit
};

// One commit of "log -z" in the library's format: each record is
// "\x01" HASH \0 PARENTS \0 AUTHOR \0 EMAIL \0 DATE \0 UNIXTIME \0 SUBJECT \0
// BODY \0, then with --name-status "\n"? STATUS \0 PATH \0 [NEWPATH \0] ...,
// or with --raw ":MODE MODE OLD NEW STATUS" \0 PATH \0 [NEWPATH \0] ...
struct log_record {
  span hash, parents, author, email, date, time, subject, body;
  size_t first_change, n_changes;  // into log_records::changes
};

struct log_records {
  log_record *recs;
  size_t n, cap;
  log_change *changes;
  size_t n_changes, changes_cap;
};

// Splits the log into records. Bytes before the first record and a record
// cut short are dropped. False only when memory ran out (counted).
bool parse_log_z(const char *text, size_t len, log_records *out);
void log_records_release(log_records *r);

// A rename written in a commit message: a line
//   Wikidb-Rename: "OLD" -> "NEW"
// with both titles as JSON strings. Finds the line whose NEW is new_title
// and decodes its OLD into old_title. False when there is none.
bool find_rename_to(span body, const char *new_title, size_t new_len, strbuf *old_title);
// The same from the other side: the NEW of the line whose OLD is old_title.
bool find_rename_from(span body, span old_title, strbuf *new_title);

// Calls fn for every well-formed rename line of the body, in order.
void for_each_rename(span body, void (*fn)(void *ctx, span old_title, span new_title),
                     void *ctx, strbuf *scratch_old, strbuf *scratch_new);

// Decodes a JSON string literal at [p, p+n) (quotes included, nothing after
// it) into out. False for anything else, or an escaped 0 byte.
bool json_string_decode(const char *p, size_t n, strbuf *out);

// The common fields of an entry, without the closing brace:
// {"hash":..,"author":..,"email":..,"date":..,"timestamp":N,"summary":..
void append_entry_head(strbuf *out, const log_record &r);

// The "pages" member of a whole-wiki entry: page files changed, with kind
// "added", "modified", "deleted" or "renamed" (and "from", the old name).
// Recorded renames in the body pair a deletion with an addition.
void append_page_changes(strbuf *out, const log_records &all, const log_record &r);

// Whole-wiki history JSON of a parsed log: the entries, each with its pages.
void wiki_entries_json(const log_records &all, size_t from, size_t to, strbuf *out);

// One grep hit: "PATH\0LINE\0COLUMN\0TEXT\n" as "git grep -z -n --column"
// prints it. next_grep_hit reads the next one from [*p, end); false at the
// end. Malformed lines are skipped.
struct grep_hit {
  span path, text;
  long line, column;
};
bool next_grep_hit(const char **p, const char *end, grep_hit *hit);

// Appends {"page":..,"line":N,"column":N,"text":..} for a hit whose path is
// a page; text cut to at most text_cap bytes at a UTF-8 boundary. False
// (nothing appended) for a path that is no page.
bool append_hit_json(strbuf *out, strbuf *scratch, const grep_hit &hit, size_t text_cap);

// Names in "git grep -l -z" or "ls-tree -z --name-only" output.
bool next_z_field(const char **p, const char *end, span *field);

// git blame --porcelain.
struct blame_commit {
  span hash, author, mail, summary, filename, tz;
  int64_t time;
  bool has_previous, boundary;
};
struct blame_line {
  size_t commit;  // index into commits
  long orig_line, final_line;
  span text;
};
struct blame_result {
  blame_commit *commits;
  size_t n_commits, commits_cap;
  blame_line *lines;
  size_t n_lines, lines_cap;
};
// False when memory ran out or the output is not porcelain.
bool parse_blame(const char *text, size_t len, blame_result *out);
void blame_result_release(blame_result *b);

// "git log --date=iso" form of a time and "+HHMM" zone: "2026-12-09 15:45:17 +0100".
void format_iso_date(int64_t unix_time, span tz, char out[40]);

// One line of blame JSON: {"line":N,"hash":..,"author":..,"email":..,
// "date":..,"timestamp":N,"summary":..,"page":..,"text":..}.
void append_blame_line(strbuf *out, const blame_result &b, const blame_line &l, long line_no,
                       strbuf *scratch);

// Line mapping from "diff -U0" hunk headers: the line of the old blob that
// line new_line of the new blob was, or 0 when the change made it.
long map_line_back(const char *diff, size_t len, long new_line);

// The deleted pages: for each page file the log removed (newest first) and
// that now (sorted by byte order) lacks, one element
// {"page","deleted_in","restore_from","author","date","summary"[,"renamed_to"]}.
void deleted_json(const log_records &recs, const span *now, size_t n_now, strbuf *out);
