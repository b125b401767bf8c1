// Windows process start: one command line for CreateProcessA, the output and
// error handles joined into one inheritable pipe.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "git/quote.h"
#include "frame/error.h"
#include "git/spawn.h"

// The caller's environment block less the redirecting variables, plus
// literal pathspecs, or null when it cannot be made (git is then not
// started: with the host's block as it is, it could reach another
// repository or read a title as a wildcard).
static char *child_environment(const char *const *extra) {
  char *block = GetEnvironmentStringsA();
  if (!block) return nullptr;
  const size_t literal = strlen(g_git_literal_pathspecs) + 1;  // with its NUL
  size_t total = 0;
  for (const char *e = block; *e; e += strlen(e) + 1) total += strlen(e) + 1;
  for (const char *const *x = extra; x && *x; x++) total += strlen(*x) + 1;
  char *env = static_cast<char *>(malloc(total + literal + 1));
  if (env) {
    char *w = env;
    for (const char *e = block; *e; e += strlen(e) + 1) {
      if (is_redirect_var(e, true) || is_overridden_var(e, extra, true)) continue;
      size_t n = strlen(e) + 1;
      memcpy(w, e, n);
      w += n;
    }
    memcpy(w, g_git_literal_pathspecs, literal);
    w += literal;
    for (const char *const *x = extra; x && *x; x++) {
      size_t n = strlen(*x) + 1;
      memcpy(w, *x, n);
      w += n;
    }
    *w++ = '\0';
  }
  FreeEnvironmentStringsA(block);
  return env;
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

// Reads standard error on its own thread while the caller reads the output.
static DWORD WINAPI drain_thread(LPVOID arg) {
  drain *d = static_cast<drain *>(arg);
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(d->pipe, chunk, sizeof chunk, &n, nullptr) && n > 0) strbuf_append(d->into, chunk, n);
  CloseHandle(d->pipe);
  return 0;
}

spawn_result spawn_git(const spawn_request *req, strbuf *out, strbuf *err) {
  const char *const root = req->root;
  const char *const *const args = req->args;
  const char *const input = req->input;
  const size_t input_len = req->input_len;
  const int wait_ms = req->wait_ms;
  strbuf cmd = {};
  build_git_command_line(&cmd, root, args);

  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  HANDLE rd = nullptr, wr = nullptr, in_rd = nullptr, in_wr = nullptr;
  if (!CreatePipe(&rd, &wr, &sa, 0)) {
    DWORD e = GetLastError();
    strbuf_release(&cmd);
    return {SPAWN_PIPE_FAILED, -1, e};
  }
  SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  if (input) {
    if (!CreatePipe(&in_rd, &in_wr, &sa, 0)) {
      DWORD e = GetLastError();
      CloseHandle(rd);
      CloseHandle(wr);
      strbuf_release(&cmd);
      return {SPAWN_PIPE_FAILED, -1, e};
    }
    SetHandleInformation(in_wr, HANDLE_FLAG_INHERIT, 0);
  }
  HANDLE err_rd = nullptr, err_wr = nullptr;
  if (err) {
    if (!CreatePipe(&err_rd, &err_wr, &sa, 0)) {
      DWORD e = GetLastError();
      CloseHandle(rd);
      CloseHandle(wr);
      if (in_rd) CloseHandle(in_rd);
      if (in_wr) CloseHandle(in_wr);
      strbuf_release(&cmd);
      return {SPAWN_PIPE_FAILED, -1, e};
    }
    SetHandleInformation(err_rd, HANDLE_FLAG_INHERIT, 0);
  }

  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_rd;
  si.hStdOutput = wr;
  si.hStdError = err ? err_wr : wr;
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);

  char *env = child_environment(req->env);
  BOOL started = cmd.data && env &&
                 CreateProcessA(nullptr, cmd.data, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, env, nullptr,
                                &si, &pi);
  DWORD start_error = started ? 0 : (cmd.data && env ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY);
  if (start_error == ERROR_NOT_ENOUGH_MEMORY) note_out_of_memory();
  free(env);
  strbuf_release(&cmd);
  CloseHandle(wr);
  if (in_rd) CloseHandle(in_rd);
  if (err_wr) CloseHandle(err_wr);
  if (!started) {
    CloseHandle(rd);
    if (in_wr) CloseHandle(in_wr);
    if (err_rd) CloseHandle(err_rd);
    return {SPAWN_START_FAILED, -1, start_error};
  }

  HANDLE feeder = nullptr;
  feed f = {in_wr, input, input_len};
  if (in_wr) {
    feeder = CreateThread(nullptr, 0, feed_thread, &f, 0, nullptr);
    if (!feeder) CloseHandle(in_wr);
  }

  HANDLE drainer = nullptr;
  drain d = {err_rd, err};
  if (err_rd) {
    drainer = CreateThread(nullptr, 0, drain_thread, &d, 0, nullptr);
    if (!drainer) CloseHandle(err_rd);
  }

  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(rd, chunk, sizeof chunk, &n, nullptr) && n > 0) strbuf_append(out, chunk, n);
  CloseHandle(rd);
  if (drainer) {
    WaitForSingleObject(drainer, INFINITE);
    CloseHandle(drainer);
  }

  DWORD status = 0;
  if (WaitForSingleObject(pi.hProcess, (DWORD)wait_ms) != WAIT_OBJECT_0) {
    // Still running long after closing its output: end it, so it holds no
    // repository lock behind our back.
    TerminateProcess(pi.hProcess, SPAWN_STILL_ACTIVE);
    WaitForSingleObject(pi.hProcess, INFINITE);
    status = SPAWN_STILL_ACTIVE;
  } else if (!GetExitCodeProcess(pi.hProcess, &status)) {
    status = 0;
  }
  if (feeder) {
    WaitForSingleObject(feeder, INFINITE);
    CloseHandle(feeder);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return {SPAWN_RAN, (int)status, 0};
}
