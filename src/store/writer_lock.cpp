#include "store/writer_lock.h"

#include <stdio.h>

#include "frame/error.h"
#include "frame/clock.h"
#include "store/journal.h"
#include "store/repo_state.h"

static int s_writer_wait_ms = WRITER_LOCK_WAIT_MS;
static int s_git_wait_ms = GIT_LOCK_WAIT_MS;
static int s_grace_ms = DEAD_LOCK_GRACE_MS;

void writer_set_wait_limits_ms(int writer_ms, int git_ms, int grace_ms) {
  if (writer_ms >= 0) s_writer_wait_ms = writer_ms;
  if (git_ms >= 0) s_git_wait_ms = git_ms;
  if (grace_ms >= 0) s_grace_ms = grace_ms;
}

int writer_dead_lock_grace_ms(void) { return s_grace_ms; }

void writer_remove_dead_lock(const char *path, int *waited_ms) {
  for (int pause = 5; fs_exists(path) && *waited_ms < s_grace_ms;
       pause = pause < 200 ? pause * 2 : 200) {
    sleep_us(pause * 1000L);
    *waited_ms += pause;
  }
  if (fs_exists(path)) fs_remove_file(path);
}

static int take_lock(const wikidb_handle *h, wiki_lock *lock) {
  if (wiki_lock_acquire(h->root, s_writer_wait_ms, lock) != 0) {
    set_error("Wiki is busy: %s/.git/wikidb.lock is locked by another writer", h->root);
    return -1;
  }
  if (journal_recover(h) != 0) {
    wiki_unlock(lock);
    return -1;
  }
  return 0;
}

int writer_begin_settings(const wikidb_handle *h, wiki_lock *lock) { return take_lock(h, lock); }

// Waits until none of git's lock files for a commit is there. Only another
// git process can hold one now: library writers are kept out by the writer
// lock, and the locks of a dead one were cleared by the repair.
static int wait_git_locks(const char *root) {
  char locks[REPO_LOCKS_MAX][REPO_LOCK_PATH_CAP];
  const size_t n = repo_git_locks(root, false, locks);
  int waited = 0, pause = 5;
  for (;;) {
    const char *held = nullptr;
    for (size_t i = 0; i < n && !held; i++)
      if (fs_exists(locks[i])) held = locks[i];
    if (!held) return 0;
    if (waited >= s_git_wait_ms) {
      set_error("Wiki is busy: %s is locked by another git process", held);
      return -1;
    }
    sleep_us(pause * 1000L);
    waited += pause;
    if (pause < 250) pause *= 2;
  }
}

int writer_begin(const wikidb_handle *h, wiki_lock *lock) {
  if (take_lock(h, lock) != 0) return -1;
  if (repo_check_writable(h->root) != 0 || wait_git_locks(h->root) != 0) {
    wiki_unlock(lock);
    return -1;
  }
  return 0;
}

void writer_end(wiki_lock *lock) { wiki_unlock(lock); }
