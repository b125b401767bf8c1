// What save, delete and rollback share: the writer lock and the commit.
#pragma once

#include "store/fs.h"
#include "store/handle.h"

// Commits a wiki may gain before git's commit-graph is written again: a
// page's history then walks at most this many commits without the graph's
// changed-path filters.
enum { GRAPH_REFRESH_COMMITS = 50 };

// Whether git's commit-graph is missing from a wiki that has commits, or
// trails HEAD by GRAPH_REFRESH_COMMITS commits or more by its reflog. Reads
// a few files and starts no process; an unreadable reflog counts as current.
bool commit_graph_behind(const char *root);

// Commits whatever the index holds. A failed commit still counts as success
// when nothing is staged (the wiki already holds what was asked); otherwise
// the commit's own failure message stays. Returns 0 or -1.
int commit_with_acceptance(wikidb_handle *h, const char *message, const char *author);

// Serialises the writers of one wiki across processes, then waits a few
// seconds at most for a git run by someone else to release the index.
wiki_lock writer_begin(const wikidb_handle *h);
void writer_end(wiki_lock *lock);
