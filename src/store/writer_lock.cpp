#include "store/writer_lock.h"

#include <stdio.h>

#include "frame/clock.h"

wiki_lock writer_begin(const wikidb_handle *h) {
  wiki_lock lock = wiki_lock_acquire(h->root);
  char index_lock[1200];
  int n = snprintf(index_lock, sizeof index_lock, "%s/.git/index.lock", h->root);
  if (n > 0 && (size_t)n < sizeof index_lock) {
    int waited = 0;
    for (int pause = 5; waited < 5000 && fs_exists(index_lock); pause *= 2) {
      if (pause > 250) pause = 250;
      sleep_us(pause * 1000L);
      waited += pause;
    }
  }
  return lock;
}

void writer_end(wiki_lock *lock) { wiki_unlock(lock); }
