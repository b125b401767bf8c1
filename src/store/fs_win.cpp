#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "store/fs.h"

bool fs_is_dir(const char *path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool fs_exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void fs_mkdir(const char *path) { CreateDirectoryA(path, nullptr); }

bool fs_mtime(const char *path, int64_t *seconds) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return false;
  // 100 ns steps since 1601, to seconds since 1970.
  uint64_t t = ((uint64_t)a.ftLastWriteTime.dwHighDateTime << 32) | a.ftLastWriteTime.dwLowDateTime;
  *seconds = (int64_t)(t / 10000000ULL) - 11644473600LL;
  return true;
}

void fs_sleep_ms(int ms) { Sleep((DWORD)ms); }

// Forms root\rel with native separators; false when it does not fit.
static bool native_path(const char *root, const char *rel, char *out, size_t cap) {
  int n = snprintf(out, cap, "%s\\%s", root, rel);
  if (n < 0 || (size_t)n >= cap) return false;
  for (char *p = out; *p; p++)
    if (*p == '/') *p = '\\';
  return true;
}

// Checks (and with create, makes) each directory between the root and the
// page, refusing any reparse point (symbolic link, junction) on the way.
// Returns the offset of the page's name in path, or 0 on failure.
static size_t walk_parents(char *path, size_t root_len, bool create) {
  size_t last = 0;
  for (size_t i = root_len + 1; path[i]; i++) {
    if (path[i] != '\\') continue;
    path[i] = '\0';
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES && create && CreateDirectoryA(path, nullptr))
      a = GetFileAttributesA(path);
    path[i] = '\\';
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) ||
        (a & FILE_ATTRIBUTE_REPARSE_POINT))
      return 0;
    last = i + 1;
  }
  return last;
}

pagefs_status pagefs_write(const char *root, const char *rel, const char *data, size_t len) {
  char path[1400], tmp[1500];
  if (!native_path(root, rel, path, sizeof path)) return PAGEFS_OPEN_FAILED;
  size_t name_at = walk_parents(path, strlen(root), true);
  if (!name_at) return PAGEFS_OPEN_FAILED;
  DWORD a = GetFileAttributesA(path);
  if (a != INVALID_FILE_ATTRIBUTES &&
      (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return PAGEFS_OPEN_FAILED;

  static unsigned s_counter;
  HANDLE f = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; attempt++) {
    snprintf(tmp, sizeof tmp, "%.*s.wikidb-%lu-%u.tmp", (int)name_at, path,
             (unsigned long)GetCurrentProcessId(), s_counter++);
    f = CreateFileA(tmp, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (f == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (f == INVALID_HANDLE_VALUE) return PAGEFS_OPEN_FAILED;
  bool ok = true;
  size_t done = 0;
  while (ok && done < len) {
    DWORD chunk = (DWORD)((len - done) > (1u << 30) ? (1u << 30) : (len - done));
    DWORD n = 0;
    ok = WriteFile(f, data + done, chunk, &n, nullptr) && n == chunk;
    done += n;
  }
  if (!CloseHandle(f)) ok = false;
  if (!ok) {
    DeleteFileA(tmp);
    return PAGEFS_WRITE_FAILED;
  }
  if (!MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(tmp);
    return PAGEFS_OPEN_FAILED;
  }
  return PAGEFS_OK;
}

pagefs_status pagefs_read(const char *root, const char *rel, char **data, size_t *len) {
  char path[1400];
  if (!native_path(root, rel, path, sizeof path)) return PAGEFS_OPEN_FAILED;
  if (!walk_parents(path, strlen(root), false)) return PAGEFS_OPEN_FAILED;
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (f == INVALID_HANDLE_VALUE) return PAGEFS_OPEN_FAILED;
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (!GetFileInformationByHandle(f, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      !GetFileSizeEx(f, &size)) {
    CloseHandle(f);
    return PAGEFS_OPEN_FAILED;
  }
  unsigned long long want = size.QuadPart > 0 ? (unsigned long long)size.QuadPart : 0;
  if (want >= SIZE_MAX) {
    CloseHandle(f);
    return PAGEFS_NO_MEMORY;
  }
  char *buf = static_cast<char *>(malloc((size_t)want + 1));
  if (!buf) {
    CloseHandle(f);
    return PAGEFS_NO_MEMORY;
  }
  size_t got = 0;
  while (got < want) {
    DWORD chunk = (DWORD)((want - got) > (1u << 30) ? (1u << 30) : (want - got));
    DWORD n = 0;
    if (!ReadFile(f, buf + got, chunk, &n, nullptr) || n == 0) break;
    got += n;
  }
  CloseHandle(f);
  buf[got] = '\0';
  *data = buf;
  *len = got;
  return PAGEFS_OK;
}

void pagefs_remove(const char *root, const char *rel) {
  char path[1400];
  if (!native_path(root, rel, path, sizeof path)) return;
  if (!walk_parents(path, strlen(root), false)) return;
  DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return;
  DeleteFileA(path);
}

wiki_lock wiki_lock_acquire(const char *root) {
  char path[1200];
  int n = snprintf(path, sizeof path, "%s\\.git\\wikidb.lock", root);
  if (n < 0 || (size_t)n >= sizeof path) return {-1};
  HANDLE f = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {-1};
  OVERLAPPED ov;
  ZeroMemory(&ov, sizeof ov);
  if (!LockFileEx(f, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) {
    CloseHandle(f);
    return {-1};
  }
  return {(intptr_t)f};
}

void wiki_unlock(wiki_lock *lock) {
  if (lock->fd != -1) CloseHandle((HANDLE)lock->fd);  // closing drops the lock
  lock->fd = -1;
}
