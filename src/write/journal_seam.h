// The record of pages a write-API writer is bringing into the work tree,
// so that the next writer finishes the job when this one dies: each listed
// path's file and index entry are brought to HEAD.
#pragma once

#include <stddef.h>

#include "store/handle.h"

int write_journal_begin(const wikidb_handle *h, const char *const *repo_paths, size_t n);
void write_journal_end(const wikidb_handle *h);
// Under the writer lock: finishes a dead writer's work. 0 when there was
// nothing to do or it was done; -1 (message set) when the record stays.
int write_journal_recover(const wikidb_handle *h);
