// The report parsers: plain functions from the text git printed to the JSON
// text of a report, apart from running git so they can be tested and fuzzed
// on their own. Input is read up to its first 0 byte; null reads as empty.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "frame/strbuf.h"

struct span {
  const char *p;
  size_t n;
};

// Takes the next line (without its line feed) from *cursor; false at the end.
bool next_line(const char **cursor, span *line);

// Takes the next line that is not empty once one carriage return at each
// end is dropped, and drops them; false at the end.
bool next_text_line(const char **cursor, span *line);

// ls-files output to ["name",...]; prefix null or "" keeps every page.
void list_json(const char *text, const char *prefix, strbuf *out);

// One commit of a history: spans into the log text.
struct log_entry {
  span hash, author, date, summary;
};

// Splits the history log into entries (a malloc'd array the caller frees,
// null when there are none). Returns the count.
size_t parse_history_log(const char *text, log_entry **entries);

// [{"hash":..,"author":..,"date":..,"summary":..,"size":N},...]; sizes may
// be null for all zeros.
void history_json(const log_entry *entries, size_t n, const int64_t *sizes, strbuf *out);

// The same text as parse_history_log then history_json, written straight
// from the log in a block of its exact size: the largest histories then
// hold no entry array beside their JSON. sizes (n of them, or null) go to
// the elements in order; elements past n get 0.
void history_json_from_log(const char *text, const int64_t *sizes, size_t n, strbuf *out);

// The size at the start of "cat-file -s" output: optional blanks and sign,
// then decimal digits; 0 without digits.
int64_t parse_size(const char *text);

// The object names fed to the batched size query: "HASH:PATH", each
// followed by a 0 byte. False when out of memory.
bool batch_size_input(const log_entry *entries, size_t n, const char *path, strbuf *input);

// Reads the batched answers back: a line of digits for a found object,
// "NAME missing" otherwise. False when the output does not answer exactly
// the questions asked; the caller then asks one by one.
bool parse_batch_sizes(const char *text, const log_entry *entries, size_t n, const char *path,
                       int64_t *sizes);

// The recent-changes log (--name-status) to its JSON array.
void recent_json(const char *text, strbuf *out);

// Capacities of the fields a commit line fills for its file lines.
enum { RECENT_HASH_CAP = 128, RECENT_AUTHOR_CAP = 256, RECENT_DATE_CAP = 128, RECENT_SUMMARY_CAP = 512 };

// The page name of a repository path, git-quoted or not: the path must be
// "pages/NAME.wiki" with a NAME of at least one byte. Backslashes become
// slashes. *name points into path when the path is plain (most are, and
// need no copy), else into scratch. Returns false for any other path;
// name is then undefined.
bool page_name_of(span path, strbuf *scratch, span *name);

// The page's history from "log -z --raw" (each commit's fields, then its
// diff entries ":MODES IDS STATUS\0PATH\0", commits apart by a 0 byte):
// the entries parse_history_log gives for the same commits, in the same
// order, and for each the page's object id after the commit, taken from the
// commit's own diff entry for exactly path. blobs[i].n is 0 when the commit
// shows no such entry (a merge, a path that is a directory, a malformed
// record): its size is then asked by "HASH:PATH". Both arrays are malloc'd
// and freed by the caller (null when there are none). Returns the count.
size_t parse_history_raw(const char *text, size_t len, const char *path, log_entry **entries,
                         span **blobs);

// Whether an object id is git's null id (all zeros): the page did not exist
// after that commit, size 0, nothing to ask.
bool null_object_id(span id);

// The questions for the sizes of a history read with object ids: the id
// where there is one, else "HASH:PATH", each followed by a 0 byte; no
// question for a null id. False when out of memory.
bool batch_blob_input(const log_entry *entries, const span *blobs, size_t n, const char *path,
                      strbuf *input);

// Reads the answers to count questions (names each followed by a 0 byte,
// as fed to "cat-file --batch-check -z"): digits and a line feed for a
// found object, "NAME missing" otherwise (size 0). False when the output
// does not answer exactly the questions asked.
bool parse_batch_answers(const char *text, const char *questions, size_t count, int64_t *sizes);
