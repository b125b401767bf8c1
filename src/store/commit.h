// What save, delete and rollback share: the commit and its acceptance rule.
#pragma once

#include "store/handle.h"

// Commits whatever the index holds. A failed commit still counts as success
// when nothing is staged (the wiki already holds what was asked); otherwise
// the commit's own failure message stays. Returns 0 or -1.
int commit_with_acceptance(wikidb_handle *h, const char *message, const char *author);

// After any commit the library made: keeps git's commit-graph (and, through
// it, the repository's housekeeping) on its cadence.
void note_commit(wikidb_handle *h);

// Records HEAD as the commit the last write made.
void remember_head(wikidb_handle *h);
