#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/fs.h"
#include "frame/clock.h"

// Any byte but '/' and NUL can be part of a name here, and the separators
// were split off already.
bool fs_title_allowed(const char *) { return true; }

char fs_separator(void) { return '/'; }

bool fs_is_dir(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool fs_exists(const char *path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool fs_dir_has_suffix(const char *dir, const char *suffix) {
  DIR *d = opendir(dir);
  if (!d) return false;
  const size_t k = strlen(suffix);
  bool found = false;
  for (struct dirent *e; !found && (e = readdir(d));) {
    const size_t n = strlen(e->d_name);
    found = n > k && memcmp(e->d_name + n - k, suffix, k) == 0;
  }
  closedir(d);
  return found;
}

void fs_mkdir(const char *path) { mkdir(path, 0777); }

bool fs_mtime(const char *path, int64_t *seconds) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *seconds = (int64_t)st.st_mtime;
  return true;
}

bool fs_file_size(const char *path, int64_t *bytes) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *bytes = (int64_t)st.st_size;
  return true;
}

static void close_keep_errno(int fd) {
  int e = errno;
  close(fd);
  errno = e;
}

// Opens the directory that holds rel's last component, walking from the root
// one component at a time with O_NOFOLLOW, so no symbolic link below the root
// is followed. With create, missing directories are made on the way. Sets
// *name to the last component. Returns the directory descriptor or -1.
static int open_parent(const char *root, const char *rel, bool create, const char **name) {
  int dir = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  char component[1200];
  const char *p = rel;
  for (;;) {
    const char *slash = strchr(p, '/');
    if (!slash) break;
    size_t n = (size_t)(slash - p);
    if (n == 0 || n >= sizeof component) {
      close(dir);
      errno = EINVAL;
      return -1;
    }
    memcpy(component, p, n);
    component[n] = '\0';
    int next = openat(dir, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      // A new directory's name must reach the disk with the page in it.
      const bool made = mkdirat(dir, component, 0777) == 0;
      if (made) fsync(dir);
      if (made || errno == EEXIST)
        next = openat(dir, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    close_keep_errno(dir);
    if (next < 0) return -1;
    dir = next;
    p = slash + 1;
  }
  *name = p;
  return dir;
}

static bool write_all(int fd, const char *data, size_t len) {
  while (len) {
    ssize_t n = write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= (size_t)n;
  }
  return true;
}

pagefs_status pagefs_write(const char *root, const char *rel, const char *data, size_t len) {
  const char *name = nullptr;
  int dir = open_parent(root, rel, true, &name);
  if (dir < 0) return PAGEFS_OPEN_FAILED;

  // The page itself must be a plain file or absent: a link there would be
  // replaced by a file, a directory or device is not a page.
  struct stat old;
  bool have_old = fstatat(dir, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (have_old && !S_ISREG(old.st_mode)) {
    close(dir);
    return PAGEFS_OPEN_FAILED;
  }

  // The temporary name never ends in ".wiki", so a leftover is never a page.
  static unsigned s_counter;
  char tmp[64];
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
    snprintf(tmp, sizeof tmp, ".wikidb-%ld-%u.tmp", (long)getpid(), s_counter++);
    fd = openat(dir, tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    close(dir);
    return PAGEFS_OPEN_FAILED;
  }
  if (have_old) fchmod(fd, old.st_mode & 07777);

  bool ok = write_all(fd, data, len);
  // The text is on the disk before its name replaces the page, so a power
  // cut leaves the old page or the new one, never an empty file.
  if (ok && fsync(fd) != 0) ok = false;
  // A failing close can be the first report of a full disk.
  if (close(fd) != 0) ok = false;
  if (!ok) {
    unlinkat(dir, tmp, 0);
    close(dir);
    return PAGEFS_WRITE_FAILED;
  }
  if (renameat(dir, tmp, dir, name) != 0) {
    unlinkat(dir, tmp, 0);
    close(dir);
    return PAGEFS_OPEN_FAILED;
  }
  // And the rename itself is on the disk before the caller is told so.
  // Some file systems cannot sync a directory (EINVAL): nothing to do there.
  const bool synced = fsync(dir) == 0 || errno == EINVAL;
  close(dir);
  return synced ? PAGEFS_OK : PAGEFS_WRITE_FAILED;
}

pagefs_status pagefs_read(const char *root, const char *rel, char **data, size_t *len) {
  const char *name = nullptr;
  int dir = open_parent(root, rel, false, &name);
  if (dir < 0) return PAGEFS_OPEN_FAILED;
  // O_NONBLOCK: opening a FIFO put in place of a page must not hang.
  int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  close(dir);
  if (fd < 0) return PAGEFS_OPEN_FAILED;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return PAGEFS_OPEN_FAILED;
  }
  uint64_t size = st.st_size > 0 ? (uint64_t)st.st_size : 0;
  if (size >= SIZE_MAX) {
    close(fd);
    return PAGEFS_NO_MEMORY;
  }
  char *buf = static_cast<char *>(malloc((size_t)size + 1));
  if (!buf) {
    close(fd);
    return PAGEFS_NO_MEMORY;
  }
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, (size_t)size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  close(fd);
  buf[got] = '\0';
  *data = buf;
  *len = got;
  return PAGEFS_OK;
}

// The volumes served here tell names apart by letter case: a file found
// under a name is spelled so.
bool pagefs_case_twin(const char *, const char *, char *, size_t) { return false; }

bool pagefs_sync(const char *root, const char *rel) {
  // git removes a directory that a removal left empty: then the nearest
  // directory still there holds the change.
  char path[1200];
  if (strlen(rel) >= sizeof path) return false;
  strcpy(path, rel);
  for (;;) {
    const char *name = nullptr;
    int dir = open_parent(root, path, false, &name);
    if (dir < 0) {
      char *slash = strrchr(path, '/');
      if (errno != ENOENT || !slash) return false;
      *slash = '\0';
      continue;
    }
    bool ok = true;
    int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fsync(fd) != 0) ok = false;
      close(fd);
    }
    if (fsync(dir) != 0 && errno != EINVAL) ok = false;
    close(dir);
    return ok;
  }
}

void pagefs_remove(const char *root, const char *rel) {
  const char *name = nullptr;
  int dir = open_parent(root, rel, false, &name);
  if (dir < 0) return;
  unlinkat(dir, name, 0);
  close(dir);
}

void pagefs_remove_temps(const char *root, const char *rel) {
  const char *name = nullptr;
  int dir = open_parent(root, rel, false, &name);
  if (dir < 0) return;
  // The listing gets its own descriptor: closedir closes it.
  int listing = dup(dir);
  DIR *d = listing >= 0 ? fdopendir(listing) : nullptr;
  if (!d && listing >= 0) close(listing);
  for (struct dirent *e = d ? readdir(d) : nullptr; e; e = readdir(d))
    if (pagefs_is_temp_name(e->d_name)) unlinkat(dir, e->d_name, 0);
  if (d) closedir(d);
  close(dir);
}

bool pagefs_parents_safe(const char *root, const char *rel) {
  int dir = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return true;  // no wiki yet: nothing below it can be a link
  char component[1200];
  for (const char *p = rel, *slash; (slash = strchr(p, '/')) != nullptr; p = slash + 1) {
    size_t n = (size_t)(slash - p);
    if (n == 0 || n >= sizeof component) break;
    memcpy(component, p, n);
    component[n] = '\0';
    int next = openat(dir, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      // Missing, or a plain file: no page lies beyond it. A link, or a
      // directory that cannot be opened, is refused.
      struct stat st;
      const bool ok = fstatat(dir, component, &st, AT_SYMLINK_NOFOLLOW) != 0
                          ? errno == ENOENT
                          : !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode);
      close(dir);
      return ok;
    }
    close(dir);
    dir = next;
  }
  close(dir);
  return true;
}

bool fs_remove_file(const char *path) { return unlink(path) == 0 || errno == ENOENT; }

int wiki_lock_acquire(const char *root, int wait_ms, wiki_lock *out) {
  out->fd = -1;
  char path[1200];
  int n = snprintf(path, sizeof path, "%s/.git/wikidb.lock", root);
  if (n < 0 || (size_t)n >= sizeof path) return 0;
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  // Without a lock file (a read-only .git) git cannot write either; the
  // operation goes on and fails there with git's own message.
  if (fd < 0) return 0;
  // Polled rather than blocking, so that the wait has an end without
  // signals in the host.
  int waited = 0;
  for (int pause = 1;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) break;  // no locking here: go on unserialised, as before
    if (waited >= wait_ms) {
      close(fd);
      return 1;
    }
    sleep_us(pause * 1000L);
    waited += pause;
    if (pause < 20) pause *= 2;
  }
  out->fd = fd;
  return 0;
}

void wiki_unlock(wiki_lock *lock) {
  if (lock->fd >= 0) close((int)lock->fd);
  lock->fd = -1;
}
