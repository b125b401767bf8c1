// The writer lock: one writer of a wiki at a time, across processes.
#pragma once

#include "store/fs.h"
#include "store/handle.h"

// Serialises the writers of one wiki across processes, then waits a few
// seconds at most for a git run by someone else to release the index.
wiki_lock writer_begin(const wikidb_handle *h);
void writer_end(wiki_lock *lock);
