// What save, delete and rollback share: the writer lock and the commit.
#pragma once

#include "store/fs.h"
#include "store/handle.h"

// Commits whatever the index holds. A failed commit still counts as success
// when nothing is staged (the wiki already holds what was asked); otherwise
// the commit's own failure message stays. Returns 0 or -1.
int commit_with_acceptance(wikidb_handle *h, const char *message, const char *author);

// Serialises the writers of one wiki across processes, then waits a few
// seconds at most for a git run by someone else to release the index.
wiki_lock writer_begin(const wikidb_handle *h);
void writer_end(wiki_lock *lock);
