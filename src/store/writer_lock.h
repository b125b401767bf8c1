// The writer lock: one writer of a wiki at a time, across processes, and
// nothing done to a page before git can take its own locks.
#pragma once

#include "store/fs.h"
#include "store/handle.h"

// How long a writer waits at most, in milliseconds, for:
enum {
  WRITER_LOCK_WAIT_MS = 60000,  // the library's own lock, held by another writer
  GIT_LOCK_WAIT_MS = 10000,     // a lock file of git's that another git process holds
  DEAD_LOCK_GRACE_MS = 3000,    // a lock file found after a library writer died,
                                // before it is taken as that writer's and removed
};

// Begins a write: takes the writer lock, repairs after a writer that died
// (journal_recover), refuses a repository in a state the library did not
// make (repo_check_writable) and waits for git's lock files to be free.
// Returns 0 with the lock held, or -1 with the lock released and the error
// slot set: "Wiki is busy: %s is locked by another writer" (the library's
// lock file), "Wiki is busy: %s is locked by another git process" (git's
// lock file), the state messages, or the repair's message.
int writer_begin(const wikidb_handle *h, wiki_lock *lock);

// Takes the writer lock and repairs after a dead writer, no more: for open,
// which writes only settings and must work in any repository state. Returns
// 0 or -1 as writer_begin does.
int writer_begin_settings(const wikidb_handle *h, wiki_lock *lock);

void writer_end(wiki_lock *lock);

// Tests shorten the three waits; never changed otherwise. A negative value
// keeps the current one.
void writer_set_wait_limits_ms(int writer_ms, int git_ms, int grace_ms);
int writer_dead_lock_grace_ms(void);

// Removes a lock file that a dead writer's git left, found by a holder of
// the writer lock. One that goes away within the grace belonged to a git
// still finishing (a child of the dead writer, or someone else's) and is
// left to its owner. *waited_ms counts the waiting already done: several
// lock files share one grace.
void writer_remove_dead_lock(const char *path, int *waited_ms);
