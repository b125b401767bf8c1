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

// How long a git that has closed its output may take to exit (30 s). Tests
// shorten it; the value is never changed otherwise.
void run_git_set_wait_limit_ms(int ms);
