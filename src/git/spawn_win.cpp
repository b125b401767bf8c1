// Windows process start. The command line and the environment are built in
// UTF-8 and converted to UTF-16 for CreateProcessW, so git receives the same
// bytes as on other platforms whatever the process's ANSI code page. git
// inherits exactly its three standard handles (PROC_THREAD_ATTRIBUTE_HANDLE_LIST).
#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "frame/error.h"
#include "frame/utf16.h"
#include "git/quote.h"
#include "git/spawn.h"

// The name part of a wide "NAME=VALUE" entry as narrow "NAME=" for the
// variable checks. Characters outside ASCII become '?', which no variable we
// look for holds; a name too long for buf is none of ours either.
static bool narrow_name(const wchar_t *entry, char *buf, size_t cap) {
  // A leading '=' is part of the name ("=C:=C:\\wiki", the drive's directory).
  size_t i = entry[0] == L'=' ? 1 : 0;
  for (; entry[i] && entry[i] != L'='; i++) {
    if (i + 2 >= cap) return false;
    buf[i] = entry[i] < 0x80 ? (char)entry[i] : '?';
  }
  if (entry[0] == L'=') buf[0] = '=';
  buf[i] = '=';
  buf[i + 1] = '\0';
  return true;
}

// Appends the UTF-16 form of a UTF-8 entry, with its NUL, to block; as on
// the command line, a bad sequence becomes U+FFFD, so only memory can fail.
static bool append_wide(strbuf *block, const char *utf8) {
  wchar_t *w = utf8_to_wide_lossy(utf8);
  if (!w) return false;
  int rc = strbuf_append(block, w, (wcslen(w) + 1) * sizeof(wchar_t));
  free(w);
  return rc == 0;
}

// The caller's environment block less the variables kept from git and
// those the request sets, plus the library's profile (literal pathspecs,
// pinned settings) and the request's entries, as UTF-16; null when it cannot be made (git is then not started: with the
// host's block as it is, it could reach another repository or read a title
// as a wildcard).
static wchar_t *child_environment(const char *const *extra) {
  wchar_t *host = GetEnvironmentStringsW();
  if (!host) return nullptr;
  strbuf block = {};
  bool ok = true;
  for (const wchar_t *e = host; ok && *e; e += wcslen(e) + 1) {
    char name[256];
    if (narrow_name(e, name, sizeof name) &&
        (is_removed_var(name, true) || is_overridden_var(name, extra, true)))
      continue;
    ok = strbuf_append(&block, e, (wcslen(e) + 1) * sizeof(wchar_t)) == 0;
  }
  FreeEnvironmentStringsW(host);
  for (const char *const *p = g_git_profile_env; ok && *p; p++)
    if (!is_overridden_var(*p, extra, true)) ok = append_wide(&block, *p);
  for (const char *const *x = extra; ok && x && *x; x++) ok = append_wide(&block, *x);
  const wchar_t end = L'\0';
  ok = ok && strbuf_append(&block, &end, sizeof end) == 0;
  if (!ok) {
    strbuf_release(&block);
    return nullptr;
  }
  return reinterpret_cast<wchar_t *>(strbuf_detach(&block));
}

struct feed {
  HANDLE pipe;
  const char *data;
  size_t len;
};

// Writes standard input on its own thread while the caller reads the
// output, so a large input cannot deadlock against a full output pipe.
static DWORD WINAPI feed_thread(LPVOID arg) {
  feed *f = static_cast<feed *>(arg);
  size_t done = 0;
  while (done < f->len) {
    DWORD chunk = (DWORD)((f->len - done) > 65536 ? 65536 : (f->len - done));
    DWORD n = 0;
    if (!WriteFile(f->pipe, f->data + done, chunk, &n, nullptr) || n == 0) break;
    done += n;
  }
  CloseHandle(f->pipe);
  return 0;
}

struct drain {
  HANDLE pipe;
  strbuf *into;
};

static void read_all(HANDLE pipe, strbuf *into) {
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &n, nullptr) && n > 0) strbuf_append(into, chunk, n);
}

// Reads standard error on its own thread while the caller reads the output.
static DWORD WINAPI drain_thread(LPVOID arg) {
  drain *d = static_cast<drain *>(arg);
  read_all(d->pipe, d->into);
  CloseHandle(d->pipe);
  return 0;
}

// The pipes of one run. Every handle starts out not inheritable: the ends
// meant for git become inheritable only for the moment of its start, so
// that a process another thread starts meanwhile is unlikely to get one.
struct pipes {
  HANDLE in_rd, in_wr;    // git's standard input
  HANDLE out_rd, out_wr;  // its standard output (and error when joined)
  HANDLE err_rd, err_wr;  // its standard error when kept apart
};

static void close_if(HANDLE *h) {
  if (*h) CloseHandle(*h);
  *h = nullptr;
}

static void close_pipes(pipes *p) {
  close_if(&p->in_rd);
  close_if(&p->in_wr);
  close_if(&p->out_rd);
  close_if(&p->out_wr);
  close_if(&p->err_rd);
  close_if(&p->err_wr);
}

// 0 or the system's error code.
static DWORD make_pipes(pipes *p, bool split_err) {
  *p = {};
  if (!CreatePipe(&p->in_rd, &p->in_wr, nullptr, 0) || !CreatePipe(&p->out_rd, &p->out_wr, nullptr, 0) ||
      (split_err && !CreatePipe(&p->err_rd, &p->err_wr, nullptr, 0))) {
    DWORD e = GetLastError();
    close_pipes(p);
    return e ? e : ERROR_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

// Starts git with the child ends of p as its standard handles, and only
// those inherited. 0 or the system's error code.
static DWORD start_git(wchar_t *cmd, wchar_t *env, pipes *p, PROCESS_INFORMATION *pi) {
  HANDLE handles[3] = {p->in_rd, p->out_wr, p->err_wr};
  const DWORD count = p->err_wr ? 3 : 2;

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  auto *attrs = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(malloc(size));
  if (!attrs) return ERROR_NOT_ENOUGH_MEMORY;
  if (!InitializeProcThreadAttributeList(attrs, 1, 0, &size)) {
    DWORD e = GetLastError();
    free(attrs);
    return e;
  }
  DWORD error = 0;
  if (!UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                 count * sizeof(HANDLE), nullptr, nullptr)) {
    error = GetLastError();
  } else {
    STARTUPINFOEXW si;
    ZeroMemory(&si, sizeof si);
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = p->in_rd;
    si.StartupInfo.hStdOutput = p->out_wr;
    si.StartupInfo.hStdError = p->err_wr ? p->err_wr : p->out_wr;
    si.lpAttributeList = attrs;
    for (DWORD i = 0; i < count; i++) SetHandleInformation(handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    if (!CreateProcessW(nullptr, cmd, nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, env,
                        nullptr, &si.StartupInfo, pi))
      error = GetLastError();
    for (DWORD i = 0; i < count; i++) SetHandleInformation(handles[i], HANDLE_FLAG_INHERIT, 0);
  }
  DeleteProcThreadAttributeList(attrs);
  free(attrs);
  return error;
}

spawn_result spawn_git(const spawn_request *req, strbuf *out, strbuf *err) {
  pipes p;
  DWORD e = make_pipes(&p, err != nullptr);
  if (e) return {SPAWN_PIPE_FAILED, -1, e};

  // Titles were checked to be UTF-8 already; an author or message that is
  // not reaches git with U+FFFD in place of the bad bytes.
  strbuf line = {};
  build_git_command_line(&line, req->root, req->args);
  wchar_t *cmd = line.data ? utf8_to_wide_lossy(line.data) : nullptr;
  strbuf_release(&line);
  wchar_t *env = child_environment(req->env);
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  DWORD start_error = cmd && env ? start_git(cmd, env, &p, &pi) : ERROR_NOT_ENOUGH_MEMORY;
  if (start_error == ERROR_NOT_ENOUGH_MEMORY) note_out_of_memory();
  free(cmd);
  free(env);
  // Only git holds its ends now, so each pipe ends when git is done with it.
  close_if(&p.in_rd);
  close_if(&p.out_wr);
  close_if(&p.err_wr);
  if (start_error) {
    close_pipes(&p);
    return {SPAWN_START_FAILED, -1, start_error};
  }

  // Input and standard error each need a thread beside this one's reading;
  // without one git would read a cut input or block on its errors, so it is
  // ended and the run counts as not started.
  HANDLE feeder = nullptr, drainer = nullptr;
  feed f = {p.in_wr, req->input, req->input_len};
  drain d = {p.err_rd, err};
  if (req->input && req->input_len) {
    feeder = CreateThread(nullptr, 0, feed_thread, &f, 0, nullptr);
    if (feeder) p.in_wr = nullptr;  // the thread closes it
  }
  if (p.err_rd) {
    drainer = CreateThread(nullptr, 0, drain_thread, &d, 0, nullptr);
    if (drainer) p.err_rd = nullptr;  // the thread closes it
  }
  if ((req->input && req->input_len && !feeder) || (d.pipe && !drainer)) {
    e = GetLastError();
    TerminateProcess(pi.hProcess, SPAWN_STILL_ACTIVE);
    WaitForSingleObject(pi.hProcess, INFINITE);
    close_pipes(&p);
    // git's ends closed with it, so a thread that did start stops now.
    const HANDLE threads[2] = {feeder, drainer};
    for (HANDLE t : threads) {
      if (!t) continue;
      WaitForSingleObject(t, INFINITE);
      CloseHandle(t);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return {SPAWN_START_FAILED, -1, e ? e : ERROR_NOT_ENOUGH_MEMORY};
  }
  // Without input git reads an empty stream.
  close_if(&p.in_wr);

  read_all(p.out_rd, out);
  close_if(&p.out_rd);
  if (drainer) {
    WaitForSingleObject(drainer, INFINITE);
    CloseHandle(drainer);
  }

  DWORD status = 0;
  bool lost = false;
  if (WaitForSingleObject(pi.hProcess, (DWORD)req->wait_ms) != WAIT_OBJECT_0) {
    // Still running long after closing its output: end it, so it holds no
    // repository lock behind our back.
    TerminateProcess(pi.hProcess, SPAWN_STILL_ACTIVE);
    WaitForSingleObject(pi.hProcess, INFINITE);
    status = SPAWN_STILL_ACTIVE;
  } else if (!GetExitCodeProcess(pi.hProcess, &status)) {
    lost = true;  // an unread status must not pass for success
  }
  if (feeder) {
    WaitForSingleObject(feeder, INFINITE);
    CloseHandle(feeder);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (lost) return {SPAWN_STATUS_LOST, -1, 0};
  return {SPAWN_RAN, (int)status, 0};
}

// Windows reads the status from the process handle: nothing to choose.
void spawn_use_portable_start(bool) {}
void spawn_set_drain_grace_ms(int) {}
void spawn_set_run_limit_ms(int) {}
