// Starting git and collecting what it prints: the one platform-specific part
// of the git bridge. spawn_posix.cpp and spawn_win.cpp implement it.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

// Exit status reported for a git still running when the wait limit ran out
// (the Windows still-active value); such a git is terminated and reaped.
enum { SPAWN_STILL_ACTIVE = 259 };

// Once git has exited, its output pipes are read for at most this long
// before they are closed: whatever git wrote is in them by then, and a
// background child of a hook that holds them open must not hold the caller.
enum { SPAWN_DRAIN_GRACE_MS = 100 };

// Tests only: another grace (0: close right after reading what git wrote).
// No effect on Windows.
void spawn_set_drain_grace_ms(int ms);

// The longest one git may run while it keeps its output open (a hook that
// hangs, a server that never answers): then it is killed and the run
// reported as SPAWN_STILL_ACTIVE. Ten minutes, far beyond any command the
// library runs on a sound repository; tests shorten it.
enum { SPAWN_RUN_LIMIT_MS = 600000 };
void spawn_set_run_limit_ms(int ms);

enum spawn_outcome {
  SPAWN_RAN,          // git ran; status holds its exit status
  SPAWN_PIPE_FAILED,  // no pipe could be made; error holds the system code
  SPAWN_START_FAILED, // git could not be started; error holds the system code
  SPAWN_STATUS_LOST,  // git ran, but its exit status was taken by the host
};

struct spawn_result {
  spawn_outcome outcome;
  int status;
  unsigned long error;
};

// What to run: git --no-pager -C root followed by args (null-terminated).
struct spawn_request {
  const char *root;
  const char *const *args;
  // When non-null, input_len bytes fed to git's standard input while the
  // output is read; otherwise git's standard input is empty.
  const char *input;
  size_t input_len;
  // Extra "NAME=VALUE" entries for git's environment (null-terminated list,
  // or null); each replaces any entry of the same name from the host.
  const char *const *env;
  // After the end of the output, git is given this long to exit.
  int wait_ms;
};

// Environment variables that would point git at another repository than the
// one given with -C, or change how it reads a path; they are removed from
// git's environment.
extern const char *const g_git_redirect_vars[];

// Environment variables that change what git prints or how it reads its
// configuration; also removed (with every GIT_TRACE*, GIT_CONFIG_KEY_*,
// GIT_CONFIG_VALUE_* and GIT_TEST_* variable).
extern const char *const g_git_output_vars[];

// The entries added to every git's environment (null-terminated): literal
// pathspecs, traces off, and the pinned settings the library's parsing and
// commits depend on.
extern const char *const g_git_profile_env[];

// Whether an environment entry "NAME=VALUE" sets one of g_git_redirect_vars;
// ignore_case for Windows, where variable names are case-insensitive.
bool is_redirect_var(const char *entry, bool ignore_case);

// Whether the host's entry "NAME=VALUE" is kept from git: a redirecting or
// output-changing variable, or one that g_git_profile_env sets itself.
bool is_removed_var(const char *entry, bool ignore_case);

// Whether entry "NAME=VALUE" sets a variable named in the list of
// "NAME=VALUE" entries extra (null-terminated, or null).
bool is_overridden_var(const char *entry, const char *const *extra, bool ignore_case);

// Runs the request. Standard output goes into out; standard error goes into
// err, or joined with standard output into out when err is null. Both are
// read to their end, or until SPAWN_DRAIN_GRACE_MS after git's exit.
spawn_result spawn_git(const spawn_request *req, strbuf *out, strbuf *err);

// Tests only: start and wait for git the portable way (posix_spawnp, no
// descriptor of the process), as on systems that have nothing better. No
// effect on Windows.
void spawn_use_portable_start(bool on);
