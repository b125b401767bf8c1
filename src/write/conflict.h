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

