// The record of the conflicts a sync reported, kept in .git per remote, so
// that the next sync knows which pages the host has resolved since:
// "PATH\0OURS\0THEIRS\0RESOLVED\0" for each page, RESOLVED the commit of
// the host's resolution or "".
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

struct record_entry {
  const char *path, *ours, *theirs, *resolved;  // point into the record's bytes
};

// Splits the record (a new array, freed by the caller; null when empty).
// 0, or -1 when the bytes are not a record (a cut one) or memory ran out.
int record_parse(const char *data, size_t len, record_entry **entries, size_t *n);
// Appends one entry. 0, or -1 when memory ran out.
int record_append(strbuf *out, const char *path, const char *ours, const char *theirs,
                  const char *resolved);
// The record's file, relative to the wiki's root.
void record_file(const char *remote, char *out, size_t cap);
