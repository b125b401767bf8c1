// run_git: every git command the library runs goes through here.
#pragma once

#include <stddef.h>

// Runs git in root with args (null-terminated list). Returns git's exit
// status, or -1 when no pipe or process could be made (the error slot then
// says which and out is not written). When out is non-null and git ran, *out
// receives the joined output text, owned by the caller, or null when git
// printed nothing. A non-zero status leaves "git command failed (exit code
// N): OUTPUT" in the error slot. When the output could not be kept whole for
// want of memory, returns -1 with "Out of memory reading git output" and out
// is not written: a cut output would pass for what git printed.
int run_git(const char *root, const char *const *args, char **out);

// As run_git, feeding input_len bytes of input to git's standard input.
int run_git_input(const char *root, const char *const *args, const char *input, size_t input_len,
                  char **out);

// The general form, for callers that need more than the two above.
struct git_call {
  const char *const *args;  // null-terminated
  const char *input;        // fed to standard input when non-null
  size_t input_len;
  // Extra "NAME=VALUE" entries for git's environment (null-terminated, or
  // null), e.g. a private GIT_INDEX_FILE; each replaces the host's entry of
  // that name, and may name a variable otherwise removed from git's
  // environment.
  const char *const *env;
  // Keep standard error apart: a failed read is then never taken for the
  // content it was asked for.
  bool split_stderr;
};

struct git_output {
  char *out;       // standard output (joined with standard error unless
  size_t out_len;  //   split), owned by the caller; null when empty
  char *err;       // standard error when split; null when empty
  size_t err_len;
};

// Runs call in root, as run_git does, and fills *res (when git ran; it is
// zeroed first). On a non-zero status the error slot's OUTPUT is standard
// error when split (standard output when standard error is empty). Returns
// git's exit status or -1. Release the texts with git_output_release.
int run_git_call(const char *root, const git_call *call, git_output *res);
void git_output_release(git_output *res);

// As run_git_call, handing standard output to *out (when out is non-null
// and git ran; null when it printed nothing) and dropping the rest.
int run_git_call_out(const char *root, const git_call *call, char **out);

// How long a git that has closed its output may take to exit (30 s). Tests
// shorten it; the value is never changed otherwise.
void run_git_set_wait_limit_ms(int ms);
