// File-system services of the store, one implementation per platform
// (fs_posix.cpp, fs_win.cpp). Page files are named by a path relative to
// the wiki root with '/' separators; no symbolic link (or other reparse
// point) below the root is ever followed on the way to them.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Whether the platform's file system can hold a page of this title under
// exactly its own name (on Windows: valid UTF-8 and the rules of
// store/win_names.h; elsewhere every title the store accepts).
bool fs_title_allowed(const char *title);

// The separator of native paths: '\\' on Windows, '/' elsewhere.
char fs_separator(void);

bool fs_is_dir(const char *path);
bool fs_exists(const char *path);
// Creates one directory; failure is the caller's to notice later.
void fs_mkdir(const char *path);
// Last modification time of path in seconds since 1970 (UTC); false when
// the path cannot be queried.
bool fs_mtime(const char *path, int64_t *seconds);

// Size of the file at path in bytes; false when it cannot be queried.
bool fs_file_size(const char *path, int64_t *bytes);

// Whether the directory holds an entry whose name ends in suffix; false
// when it cannot be read.
bool fs_dir_has_suffix(const char *dir, const char *suffix);

enum pagefs_status {
  PAGEFS_OK = 0,
  PAGEFS_OPEN_FAILED = -1,   // cannot be opened, created, or is not a plain file
  PAGEFS_WRITE_FAILED = -2,  // the text could not be written in full
  PAGEFS_NO_MEMORY = -3,
};

// Replaces root/rel with exactly len bytes of data, atomically: the text goes
// to a temporary file beside the page and is renamed over it, so a failure
// leaves the old page as it was and no temporary file behind. Creates the
// page's missing directories.
pagefs_status pagefs_write(const char *root, const char *rel, const char *data, size_t len);

// Reads root/rel whole into a new heap block with a NUL after the bytes.
pagefs_status pagefs_read(const char *root, const char *rel, char **data, size_t *len);

// On a volume that ignores letter case, a file or directory on the way to
// root/rel can answer to rel while being spelled otherwise ("Home.wiki" for
// "HOME.wiki"). Then the spelling found on disk, from rel's first component
// through the first one that differs, is copied to found (cap bytes, cut to
// fit) and true returned. False when every part of rel that exists is spelled
// exactly so, or the volume tells names apart by case.
bool pagefs_case_twin(const char *root, const char *rel, char *found, size_t cap);

// Puts what is known of root/rel on the disk: the file's bytes when it is
// there, and its directory's entries (so a removal or rename made by git
// survives a power cut too). False when a sync failed.
bool pagefs_sync(const char *root, const char *rel);

// Removes the file root/rel if it is there; reports nothing.
void pagefs_remove(const char *root, const char *rel);

// Whether name is one pagefs_write gives its temporary files:
// ".wikidb-PID-N.tmp", PID and N decimal.
inline bool pagefs_is_temp_name(const char *name) {
  static const char head[] = ".wikidb-";
  for (size_t i = 0; i + 1 < sizeof head; i++)
    if (name[i] != head[i]) return false;
  const char *p = name + sizeof head - 1;
  for (int part = 0; part < 2; part++) {
    const char *digits = p;
    while (*p >= '0' && *p <= '9') p++;
    if (p == digits || *p != (part ? '.' : '-')) return false;
    p++;
  }
  return p[0] == 't' && p[1] == 'm' && p[2] == 'p' && p[3] == '\0';
}

// Removes the temporary files pagefs_write left beside root/rel when its
// process was killed mid-write, walking to that directory as pagefs_write
// does (no link followed; a link named like one is removed, not followed).
// Only for the repair after a dead writer, under the writer lock: then no
// live writer has one open. Reports nothing.
void pagefs_remove_temps(const char *root, const char *rel);

// True unless a directory on the way from root to rel's last component is a
// symbolic link (or other reparse point) or cannot be opened. The walk stops
// at the first missing name or plain file: nothing lies beyond it.
bool pagefs_parents_safe(const char *root, const char *rel);

// Removes one file by its full path; false when it could not be removed.
bool fs_remove_file(const char *path);

// Exclusive lock that serialises writers of one wiki across processes.
// Released by wiki_unlock, or by the system when the process ends.
struct wiki_lock {
  intptr_t fd;
};
// Takes the lock of the wiki at root, waiting up to wait_ms. Returns 0 with
// the lock in *out (fd -1 when the lock file cannot be made: a read-only
// .git, where git cannot write either), or 1 when another process still
// holds it after the wait.
int wiki_lock_acquire(const char *root, int wait_ms, wiki_lock *out);
void wiki_unlock(wiki_lock *lock);
