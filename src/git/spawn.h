// Starting git and collecting what it prints: the one platform-specific part
// of the git bridge. spawn_posix.cpp and spawn_win.cpp implement it.
#pragma once

#include <stddef.h>

#include "frame/strbuf.h"

// Exit status reported for a git still running when the wait limit ran out
// (the Windows still-active value); such a git is terminated and reaped.
enum { SPAWN_STILL_ACTIVE = 259 };

enum spawn_outcome {
  SPAWN_RAN,          // git ran; status holds its exit status
  SPAWN_PIPE_FAILED,  // no pipe could be made; error holds the system code
  SPAWN_START_FAILED, // git could not be started; error holds the system code
};

struct spawn_result {
  spawn_outcome outcome;
  int status;
  unsigned long error;
};

// Environment variables that would point git at another repository than the
// one given with -C, or change how it reads a path; they are removed from
// git's environment.
extern const char *const g_git_redirect_vars[];

// Added to git's environment: every path the library passes names exactly
// that file, so a page titled "*" or "[ab]" never reaches other pages.
extern const char g_git_literal_pathspecs[];

// Whether an environment entry "NAME=VALUE" sets one of g_git_redirect_vars;
// ignore_case for Windows, where variable names are case-insensitive.
bool is_redirect_var(const char *entry, bool ignore_case);

// Runs git with --no-pager -C root followed by args (null-terminated).
// Standard output and standard error go, joined, into out, read to the end.
// When input is non-null, its input_len bytes are written to git's standard
// input while the output is read; otherwise git's standard input is empty.
// After the end of the output, git is given wait_ms to exit.
spawn_result spawn_git(const char *root, const char *const *args, const char *input,
                       size_t input_len, strbuf *out, int wait_ms);
