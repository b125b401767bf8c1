// The write API's commit: built in objects from the branch tip, published
// with a compare-and-swap of the branch, then followed by the work tree.
#pragma once

#include "store/handle.h"
#include "write/ops.h"
#include "write/tree_edit.h"

struct commit_who {
  const char *author;          // "Name <mail>" (format_author's form)
  const char *author_date;     // null: now
  const char *committer;       // null: the repository's own identity
  const char *committer_date;  // null: now
};

// Commits ops as one commit. 0 (h->last_commit holds the commit, or "" when
// the wiki already held every change), WIKIDB_CONFLICT (nothing written,
// h->conflict_buf holds the report), or -1 with the message set.
int commit_ops(wikidb_handle *h, write_ops *ops, const commit_who *who, const char *message,
               int flags);

// The page's revision as of tip ("HEAD" or a hash): the last commit that
// changed repo, "" when the page is absent there. 0, or -1 with the message.
int page_revision_at(const char *root, const char *tip, const char *repo, char out[HASH_HEX_CAP]);

// An expected revision the API accepts: null, "", or 7 to 64 hex digits.
bool expected_is_valid(const char *expected);
