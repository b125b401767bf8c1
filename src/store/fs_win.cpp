// Windows file services. Paths arrive as UTF-8 and reach the system as
// UTF-16 through the wide (W) functions, so a name means the same file
// whatever the ANSI code page of the process is.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "frame/utf16.h"
#include "store/fs.h"
#include "store/win_names.h"

// UTF-16 never needs more units than UTF-8 has bytes, so the byte caps of
// the path forms bound these buffers.
enum { WIDE_PATH_CAP = 1400, WIDE_TMP_CAP = 1500 };

bool fs_title_allowed(const char *title) { return utf8_valid(title) && win_title_allowed(title); }

char fs_separator(void) { return '\\'; }

// Runs f on the wide form of path; false when path is not valid UTF-8.
template <typename F>
static bool with_wide(const char *path, F f) {
  wchar_t *w = utf8_to_wide(path);
  if (!w) return false;
  bool r = f(w);
  free(w);
  return r;
}

bool fs_is_dir(const char *path) {
  return with_wide(path, [](const wchar_t *w) {
    DWORD a = GetFileAttributesW(w);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  });
}

bool fs_exists(const char *path) {
  return with_wide(path, [](const wchar_t *w) { return GetFileAttributesW(w) != INVALID_FILE_ATTRIBUTES; });
}

bool fs_dir_has_suffix(const char *dir, const char *suffix) {
  char pattern[1200];
  int n = snprintf(pattern, sizeof pattern, "%s\\*%s", dir, suffix);
  if (n < 0 || (size_t)n >= sizeof pattern) return false;
  return with_wide(pattern, [](const wchar_t *w) {
    WIN32_FIND_DATAW found;
    HANDLE f = FindFirstFileW(w, &found);
    if (f == INVALID_HANDLE_VALUE) return false;
    FindClose(f);
    return true;
  });
}

void fs_mkdir(const char *path) {
  with_wide(path, [](const wchar_t *w) { return CreateDirectoryW(w, nullptr) != 0; });
}

bool fs_mtime(const char *path, int64_t *seconds) {
  return with_wide(path, [seconds](const wchar_t *w) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(w, GetFileExInfoStandard, &a)) return false;
    // 100 ns steps since 1601, to seconds since 1970.
    uint64_t t = ((uint64_t)a.ftLastWriteTime.dwHighDateTime << 32) | a.ftLastWriteTime.dwLowDateTime;
    *seconds = (int64_t)(t / 10000000ULL) - 11644473600LL;
    return true;
  });
}

bool fs_file_size(const char *path, int64_t *bytes) {
  return with_wide(path, [bytes](const wchar_t *w) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(w, GetFileExInfoStandard, &a)) return false;
    *bytes = (int64_t)(((uint64_t)a.nFileSizeHigh << 32) | a.nFileSizeLow);
    return true;
  });
}

// Forms root\rel in UTF-16 with native separators into out (WIDE_PATH_CAP
// units). *root_len gets the length of the root part. False when a part is
// not valid UTF-8 or the path does not fit.
static bool native_path(const char *root, const char *rel, wchar_t *out, size_t *root_len) {
  char utf8[WIDE_PATH_CAP];
  int n = snprintf(utf8, sizeof utf8, "%s\\%s", root, rel);
  if (n < 0 || (size_t)n >= sizeof utf8) return false;
  int w = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, WIDE_PATH_CAP);
  if (w <= 0) return false;
  int wr = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, root, -1, nullptr, 0);
  if (wr <= 0) return false;
  *root_len = (size_t)wr - 1;
  for (wchar_t *p = out; *p; p++)
    if (*p == L'/') *p = L'\\';
  return true;
}

// Checks (and with create, makes) each directory between the root and the
// page, refusing any reparse point (symbolic link, junction) on the way.
// Returns the offset of the page's name in path, or 0 on failure.
static size_t walk_parents(wchar_t *path, size_t root_len, bool create) {
  size_t last = 0;
  for (size_t i = root_len + 1; path[i]; i++) {
    if (path[i] != L'\\') continue;
    path[i] = L'\0';
    DWORD a = GetFileAttributesW(path);
    if (a == INVALID_FILE_ATTRIBUTES && create && CreateDirectoryW(path, nullptr))
      a = GetFileAttributesW(path);
    path[i] = L'\\';
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) ||
        (a & FILE_ATTRIBUTE_REPARSE_POINT))
      return 0;
    last = i + 1;
  }
  return last;
}

pagefs_status pagefs_write(const char *root, const char *rel, const char *data, size_t len) {
  wchar_t path[WIDE_PATH_CAP], tmp[WIDE_TMP_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return PAGEFS_OPEN_FAILED;
  size_t name_at = walk_parents(path, root_len, true);
  if (!name_at) return PAGEFS_OPEN_FAILED;
  // A link in the page's place would be replaced by the rename below; it is
  // refused instead, as a directory is.
  DWORD a = GetFileAttributesW(path);
  if (a != INVALID_FILE_ATTRIBUTES &&
      (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return PAGEFS_OPEN_FAILED;

  static unsigned s_counter;
  HANDLE f = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; attempt++) {
    swprintf(tmp, WIDE_TMP_CAP, L"%.*ls.wikidb-%lu-%u.tmp", (int)name_at, path,
             (unsigned long)GetCurrentProcessId(), s_counter++);
    f = CreateFileW(tmp, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
  // The text is on the disk before its name replaces the page, and the
  // rename is written through before the caller is told so.
  if (ok && !FlushFileBuffers(f)) ok = false;
  if (!CloseHandle(f)) ok = false;
  if (!ok) {
    DeleteFileW(tmp);
    return PAGEFS_WRITE_FAILED;
  }
  if (!MoveFileExW(tmp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tmp);
    return PAGEFS_OPEN_FAILED;
  }
  return PAGEFS_OK;
}

pagefs_status pagefs_read(const char *root, const char *rel, char **data, size_t *len) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return PAGEFS_OPEN_FAILED;
  if (!walk_parents(path, root_len, false)) return PAGEFS_OPEN_FAILED;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which the attribute
  // check below then refuses, instead of what it points to.
  HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (f == INVALID_HANDLE_VALUE) return PAGEFS_OPEN_FAILED;
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (!GetFileInformationByHandle(f, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      GetFileType(f) != FILE_TYPE_DISK || !GetFileSizeEx(f, &size)) {
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

bool pagefs_case_twin(const char *root, const char *rel, char *found, size_t cap) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len) || cap == 0) return false;
  // Each prefix root\c1\...\ci is looked up in turn; the system answers with
  // the name as stored, which on a case-blind volume (or through a short
  // 8.3 alias) can differ from the name asked for.
  char spelled[WIDE_PATH_CAP];
  size_t spelled_len = 0;
  size_t start = root_len + 1;
  for (size_t i = start;; i++) {
    const wchar_t c = path[i];
    if (c != L'\\' && c != L'\0') continue;
    path[i] = L'\0';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(path, &fd);
    path[i] = c;
    if (h == INVALID_HANDLE_VALUE) return false;  // the rest does not exist yet
    FindClose(h);
    const wchar_t *asked = path + start;
    const size_t asked_len = i - start;
    char part[WIDE_PATH_CAP];
    if (!wide_to_utf8(fd.cFileName, wcslen(fd.cFileName), part, sizeof part)) return false;
    const size_t part_len = strlen(part);
    if (spelled_len + part_len + 2 > sizeof spelled) return false;
    if (spelled_len) spelled[spelled_len++] = '/';
    memcpy(spelled + spelled_len, part, part_len + 1);
    spelled_len += part_len;
    if (wcslen(fd.cFileName) != asked_len || wcsncmp(fd.cFileName, asked, asked_len) != 0) {
      snprintf(found, cap, "%s", spelled);
      return true;
    }
    if (c == L'\0') return false;
    start = i + 1;
  }
}

bool pagefs_sync(const char *root, const char *rel) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return false;
  if (!walk_parents(path, root_len, false)) return true;  // nothing there to keep
  // Flushing needs write access; a directory's entries cannot be flushed
  // here, the file's own metadata goes with it.
  HANDLE f = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (f == INVALID_HANDLE_VALUE) return true;
  bool ok = FlushFileBuffers(f) != 0;
  CloseHandle(f);
  return ok;
}

void pagefs_remove(const char *root, const char *rel) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return;
  if (!walk_parents(path, root_len, false)) return;
  DWORD a = GetFileAttributesW(path);
  if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return;
  DeleteFileW(path);
}

void pagefs_remove_temps(const char *root, const char *rel) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return;
  const size_t name_at = walk_parents(path, root_len, false);
  if (!name_at) return;
  static const wchar_t pattern[] = L".wikidb-*.tmp";
  if (name_at + sizeof pattern / sizeof *pattern > WIDE_PATH_CAP) return;
  wcscpy(path + name_at, pattern);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    char narrow[64];
    // Temporary names are ASCII; any other name is not one.
    int n = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, narrow, sizeof narrow, nullptr,
                                nullptr);
    if (n <= 0 || !pagefs_is_temp_name(narrow)) continue;
    if (name_at + wcslen(found.cFileName) + 1 > WIDE_PATH_CAP) continue;
    wcscpy(path + name_at, found.cFileName);
    DeleteFileW(path);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

bool pagefs_parents_safe(const char *root, const char *rel) {
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, rel, path, &root_len)) return false;
  for (size_t i = root_len + 1; path[i]; i++) {
    if (path[i] != L'\\') continue;
    path[i] = L'\0';
    DWORD a = GetFileAttributesW(path);
    path[i] = L'\\';
    // Missing, or a plain file: no page lies beyond it.
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return true;
  }
  return true;
}

bool fs_remove_file(const char *path) {
  return with_wide(path, [](const wchar_t *w) {
    return DeleteFileW(w) || GetLastError() == ERROR_FILE_NOT_FOUND;
  });
}

int wiki_lock_acquire(const char *root, int wait_ms, wiki_lock *out) {
  out->fd = -1;
  wchar_t path[WIDE_PATH_CAP];
  size_t root_len = 0;
  if (!native_path(root, ".git\\wikidb.lock", path, &root_len)) return 0;
  HANDLE f = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  // Polled rather than blocking, so that the wait has an end.
  int waited = 0;
  for (int pause = 1;;) {
    OVERLAPPED ov;
    ZeroMemory(&ov, sizeof ov);
    if (LockFileEx(f, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) break;
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      CloseHandle(f);
      return 0;
    }
    if (waited >= wait_ms) {
      CloseHandle(f);
      return 1;
    }
    Sleep((DWORD)pause);
    waited += pause;
    if (pause < 20) pause *= 2;
  }
  out->fd = (intptr_t)f;
  return 0;
}

void wiki_unlock(wiki_lock *lock) {
  if (lock->fd != -1) CloseHandle((HANDLE)lock->fd);  // closing drops the lock
  lock->fd = -1;
}
