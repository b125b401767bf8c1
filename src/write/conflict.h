// The report a conflicting write leaves: for each stale page the revisions,
// the three texts and their three-way merge.
#pragma once

#include <stddef.h>

#include "store/handle.h"
#include "write/ops.h"
#include "write/tree_edit.h"

struct stale_page {
  size_t op;                         // index in the ops
  char current[HASH_HEX_CAP];        // the page's revision at the tip
};

// Writes the report into h->conflict_buf. With merge, when every stale page
// is a save whose edit merges without overlap, the ops are rewritten to the
// merged texts, expecting the current revisions, and 1 is returned (the
// caller commits them); otherwise 0. -1 with the message when the report
// could not be made.
int conflict_report(wikidb_handle *h, write_ops *ops, const stale_page *stale, size_t n,
                    const char *tip, bool merge);


// git merge-file on three texts (null data reads as empty), labelled ours,
// base and theirs: the merged text in res, *clean when nothing overlapped.
// false when git could not merge them.
struct git_output;
bool merge_page_texts(const char *root, const char *ours, size_t ours_len, const char *base,
                      size_t base_len, const char *theirs, size_t theirs_len, git_output *res,
                      bool *clean);
