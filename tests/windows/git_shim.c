/*
 * git.exe for running the Windows build's tests under wine: test tooling,
 * never part of the library.
 *
 * Under wine a Linux program started with CreateProcess gets no usable
 * process handle (no exit status) and sees the library's pipes as /dev/null.
 * So this Windows program stands in for git: it writes its argument vector
 * (UTF-8, NUL-separated; the value of the first -C turned into the Linux
 * path), its GIT_* environment and its whole standard input into a request
 * directory under %TEMP%, starts the Linux wrapper git-wrapper.sh (found
 * beside this program) on that directory, waits for the status file the
 * wrapper leaves, copies git's output to its own standard output and error,
 * and exits with git's status.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

typedef char *(__cdecl *unix_name_fn)(const WCHAR *);
static unix_name_fn s_unix_name;

static void die(const char *what) {
  fprintf(stderr, "git shim: %s (error %lu)\n", what, (unsigned long)GetLastError());
  exit(128);
}

static char *utf8(const WCHAR *w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
  char *s = malloc(n > 0 ? (size_t)n : 1);
  if (!s) die("out of memory");
  if (n <= 0) s[0] = '\0';
  else WideCharToMultiByte(CP_UTF8, 0, w, -1, s, n, NULL, NULL);
  return s;
}

static int looks_like_windows_path(const WCHAR *v);

/* The Linux path of a Windows path, as a malloc'd UTF-8 string. Only the
   drive's root goes through wine_get_unix_file_name: it hands back names in
   the Linux locale's character set, which under LANG=C cannot hold the
   non-ASCII names the tests use, while wine stores names in UTF-8. */
static char *unix_path(const WCHAR *w) {
  if (!looks_like_windows_path(w)) return utf8(w);
  WCHAR drive[4] = {w[0], L':', L'\\', 0};
  char *root = s_unix_name(drive);
  if (!root) return utf8(w);
  char *rest = utf8(w + 3);
  for (char *p = rest; *p; p++)
    if (*p == '\\') *p = '/';
  size_t n = strlen(root);
  char *path = malloc(n + strlen(rest) + 2);
  if (!path) die("out of memory");
  sprintf(path, "%s%s%s", root, n && root[n - 1] == '/' ? "" : "/", rest);
  HeapFree(GetProcessHeap(), 0, root);
  free(rest);
  return path;
}

static int looks_like_windows_path(const WCHAR *v) {
  return ((v[0] >= L'A' && v[0] <= L'Z') || (v[0] >= L'a' && v[0] <= L'z')) && v[1] == L':' &&
         (v[2] == L'\\' || v[2] == L'/');
}

static HANDLE create(const WCHAR *dir, const WCHAR *name, DWORD access, DWORD disposition) {
  WCHAR path[MAX_PATH * 2];
  _snwprintf(path, MAX_PATH * 2, L"%ls\\%ls", dir, name);
  return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, disposition,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

static void put(HANDLE f, const void *data, size_t len) {
  DWORD n;
  while (len) {
    DWORD chunk = len > 65536 ? 65536 : (DWORD)len;
    if (!WriteFile(f, data, chunk, &n, NULL) || n == 0) die("cannot write a request file");
    data = (const char *)data + n;
    len -= n;
  }
}

static void write_file(const WCHAR *dir, const WCHAR *name, const char *data, size_t len) {
  HANDLE f = create(dir, name, GENERIC_WRITE, CREATE_ALWAYS);
  if (f == INVALID_HANDLE_VALUE) die("cannot create a request file");
  put(f, data, len);
  CloseHandle(f);
}

/* Copies a file of the request to a handle; a missing file copies nothing. */
static void copy_out(const WCHAR *dir, const WCHAR *name, HANDLE to) {
  HANDLE f = create(dir, name, GENERIC_READ, OPEN_EXISTING);
  if (f == INVALID_HANDLE_VALUE) return;
  char buf[65536];
  DWORD n, w;
  while (ReadFile(f, buf, sizeof buf, &n, NULL) && n > 0)
    if (!WriteFile(to, buf, n, &w, NULL)) break;  /* the reader went away */
  CloseHandle(f);
}

static int exists(const WCHAR *dir, const WCHAR *name) {
  WCHAR path[MAX_PATH * 2];
  _snwprintf(path, MAX_PATH * 2, L"%ls\\%ls", dir, name);
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static long read_number(const WCHAR *dir, const WCHAR *name) {
  HANDLE f = create(dir, name, GENERIC_READ, OPEN_EXISTING);
  if (f == INVALID_HANDLE_VALUE) return -1;
  char buf[32] = {0};
  DWORD n = 0;
  ReadFile(f, buf, sizeof buf - 1, &n, NULL);
  CloseHandle(f);
  return n ? strtol(buf, NULL, 10) : -1;
}

static void remove_request(const WCHAR *dir) {
  static const WCHAR *const files[] = {L"args", L"env", L"stdin", L"joined", L"pid", L"out", L"err", L"status"};
  for (size_t i = 0; i < sizeof files / sizeof *files; i++) {
    WCHAR path[MAX_PATH * 2];
    _snwprintf(path, MAX_PATH * 2, L"%ls\\%ls", dir, files[i]);
    DeleteFileW(path);
  }
  RemoveDirectoryW(dir);
}

int wmain(int argc, WCHAR **argv) {
  s_unix_name = (unix_name_fn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                             "wine_get_unix_file_name");
  if (!s_unix_name) {
    fprintf(stderr, "git shim: not running under wine\n");
    return 128;
  }

  WCHAR temp[MAX_PATH], dir[MAX_PATH + 64];
  if (!GetTempPathW(MAX_PATH, temp)) die("no temporary directory");
  static LONG s_seq;
  _snwprintf(dir, MAX_PATH + 64, L"%lsgit-shim-%lu-%lu-%ld", temp, (unsigned long)GetCurrentProcessId(),
             (unsigned long)GetTickCount(), InterlockedIncrement(&s_seq));
  if (!CreateDirectoryW(dir, NULL)) die("cannot make the request directory");

  /* The argument vector as the C runtime split it. */
  HANDLE f = create(dir, L"args", GENERIC_WRITE, CREATE_ALWAYS);
  if (f == INVALID_HANDLE_VALUE) die("cannot create the argument file");
  int mapped = 0;
  for (int i = 1; i < argc; i++) {
    int map = !mapped && i > 1 && wcscmp(argv[i - 1], L"-C") == 0;
    char *a = map ? unix_path(argv[i]) : utf8(argv[i]);
    if (map) mapped = 1;
    put(f, a, strlen(a) + 1);
    free(a);
  }
  CloseHandle(f);

  /* The GIT_* part of the environment the library gave this process, names
     in capitals as git for Windows reads them whatever their case; a value
     that is a Windows path is turned into the Linux one. A name given twice
     means the library left a host entry beside its own: refused loudly. */
  f = create(dir, L"env", GENERIC_WRITE, CREATE_ALWAYS);
  if (f == INVALID_HANDLE_VALUE) die("cannot create the environment file");
  WCHAR *block = GetEnvironmentStringsW();
  WCHAR seen[64][256];
  int nseen = 0;
  for (const WCHAR *e = block; e && *e; e += wcslen(e) + 1) {
    if (_wcsnicmp(e, L"GIT_", 4) != 0) continue;
    const WCHAR *eq = wcschr(e, L'=');
    if (!eq || eq - e >= 256) continue;
    WCHAR name[256];
    size_t n = (size_t)(eq - e);
    for (size_t i = 0; i < n; i++) name[i] = towupper(e[i]);
    name[n] = 0;
    for (int i = 0; i < nseen; i++) {
      if (wcscmp(seen[i], name) == 0) {
        fprintf(stderr, "git shim: the environment sets %ls twice\n", name);
        exit(128);
      }
    }
    if (nseen < 64) wcscpy(seen[nseen++], name);
    char *nm = utf8(name);
    char *val = looks_like_windows_path(eq + 1) ? unix_path(eq + 1) : utf8(eq + 1);
    char *entry = malloc(strlen(nm) + strlen(val) + 2);
    if (!entry) die("out of memory");
    sprintf(entry, "%s=%s", nm, val);
    put(f, entry, strlen(entry) + 1);
    free(nm);
    free(val);
    free(entry);
  }
  if (block) FreeEnvironmentStringsW(block);
  CloseHandle(f);

  /* Standard input, read to its end (the library closes it once written). */
  f = create(dir, L"stdin", GENERIC_WRITE, CREATE_ALWAYS);
  if (f == INVALID_HANDLE_VALUE) die("cannot create the input file");
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in && in != INVALID_HANDLE_VALUE) {
    char buf[65536];
    DWORD n;
    while (ReadFile(in, buf, sizeof buf, &n, NULL) && n > 0) put(f, buf, n);
  }
  CloseHandle(f);

  /* One handle for both streams means the library reads them joined. */
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
  if (out == err) write_file(dir, L"joined", "1", 1);

  WCHAR self[MAX_PATH], wrapper[MAX_PATH + 32];
  DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
  if (!n || n >= MAX_PATH) die("cannot find this program");
  WCHAR *slash = wcsrchr(self, L'\\');
  if (slash) *slash = 0;
  _snwprintf(wrapper, MAX_PATH + 32, L"%ls\\git-wrapper.sh", self);
  char *wrapper_u = unix_path(wrapper), *dir_u = unix_path(dir);
  WCHAR cmd[4 * MAX_PATH + 64];
  _snwprintf(cmd, sizeof cmd / sizeof *cmd, L"/bin/bash \"%hs\" \"%hs\"", wrapper_u, dir_u);
  free(wrapper_u);
  free(dir_u);

  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  if (!CreateProcessW(L"Z:\\bin\\bash", cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    die("cannot start the wrapper");
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);

  /* The Linux child's handle tells nothing under wine: poll for the status
     file, and watch the wrapper's /proc entry so that a wrapper that died
     without one ends the wait. A wrapper that never starts is given a
     minute (a start takes well under a second). */
  DWORD waited_for_start = 0;
  long pid = -1;
  while (!exists(dir, L"status")) {
    Sleep(1);
    if (pid < 0) {
      pid = read_number(dir, L"pid");
      if (pid < 0 && ++waited_for_start > 60000) {
        fprintf(stderr, "git shim: the wrapper did not start\n");
        remove_request(dir);
        return 128;
      }
      continue;
    }
    WCHAR proc[64];
    _snwprintf(proc, 64, L"Z:\\proc\\%ld", pid);
    if (GetFileAttributesW(proc) == INVALID_FILE_ATTRIBUTES && !exists(dir, L"status")) {
      fprintf(stderr, "git shim: the wrapper ended without a status\n");
      remove_request(dir);
      return 128;
    }
  }
  long status = read_number(dir, L"status");
  copy_out(dir, L"out", out);
  if (out != err) copy_out(dir, L"err", err);
  remove_request(dir);
  return status < 0 ? 128 : (int)status;
}
