// The writer's journal: a small record under .git ("wikidb-journal") of the
// pages a writer is changing, written after the writer lock is taken and
// before any page file or index entry changes, removed when the write ends
// (success or clean failure). A writer that takes the lock and finds a
// journal knows its writer died (the lock is exclusive) and repairs first.
// Two modes:
//   'I' (save, delete, rollback): restore each listed path's index entry to
//       HEAD; the file stays as it is;
//   'T' (writes that publish the commit before touching the work tree):
//       bring each listed path's index entry AND file to HEAD (the file
//       written atomically through the no-follow walk, or removed when HEAD
//       lacks it).
// Deliberate staging of other paths by the host is never touched.
#pragma once

#include <stddef.h>

#include "store/handle.h"

// Records the write about to start. repo_paths are repository paths
// ("pages/T.wiki"); n may be 0 (open: only git's lock files are then
// cleared after a death). Returns 0, or -1 with "Failed to write the
// journal: PATH" when it cannot be written (nothing may be changed then).
int journal_begin(const wikidb_handle *h, char mode, const char *const *repo_paths, size_t n);

// The write ended and left nothing to repair: removes the lock files a git
// of this write left when it died (after the grace of journal_recover),
// then the journal.
void journal_end(const wikidb_handle *h);

// The write failed after it may have changed what the journal lists:
// clears the lock files its git left when it died, brings those paths back
// as the journal's mode says, then removes the journal. When the repair itself fails the journal stays, for the next
// writer. The error slot keeps the failure the caller already holds.
void journal_abandon(const wikidb_handle *h);

// Called by writer_begin under the lock: when a journal is there, removes
// the lock files of git that the dead writer left (each is first given
// writer_dead_lock_grace_ms to go away, for a git child of the dead writer
// still finishing), repairs the listed paths and removes the journal.
// Returns 0 (also when there was nothing to do), or -1 with git's message
// when the repair failed (the journal then stays).
int journal_recover(const wikidb_handle *h);

// Brings paths back to HEAD as mode says, without a journal. 0 or -1.
int journal_restore(const wikidb_handle *h, char mode, const char *const *repo_paths, size_t n);
