// What the paged reads share: running git with its complaint kept apart,
// and the handle slot a JSON result goes into.
#pragma once

#include "frame/strbuf.h"
#include "git/runner.h"
#include "store/handle.h"
#include "store/paths.h"

// Stores the JSON in the slot and returns it, or, when an allocation failed
// since out_of_memory was read, frees it and fails with "Out of memory".
const char *read_finish(char **slot, strbuf *json, unsigned long out_of_memory);

// The commit HEAD names, into hash (empty when the wiki has no commit yet).
// False when git failed (the message set).
bool head_commit(const char *root, char hash[65]);

// The commit a caller's revision names. False with "Unknown revision: REV"
// or git's failure.
bool resolve_revision(const char *root, const char *rev, char hash[65]);

// Whether a caller's text may reach git: no line break (and no 0 byte, which
// a C string cannot hold anyway).
bool one_line(const char *text);

// Whether commit removed the page old_title and added the page at to: the
// check that a rename line in a message describes the commit it is in.
bool renamed_here(const char *root, const char *commit, const char *old_title, const page_path &to);
