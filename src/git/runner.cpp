#include "git/runner.h"

#include <stdlib.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/spawn.h"

static int s_wait_limit_ms = 30000;

void run_git_set_wait_limit_ms(int ms) { s_wait_limit_ms = ms; }

int run_git_input(const char *root, const char *const *args, const char *input, size_t input_len,
                  char **out) {
  strbuf output = {};
  const unsigned long out_of_memory = out_of_memory_count();
  spawn_result r = spawn_git(root, args, input, input_len, &output, s_wait_limit_ms);
  if (r.outcome == SPAWN_PIPE_FAILED) {
    set_error("CreatePipe failed: %lu", r.error);
    strbuf_release(&output);
    return -1;
  }
  if (r.outcome == SPAWN_START_FAILED) {
    set_error("CreateProcessA for git failed: %lu", r.error);
    strbuf_release(&output);
    return -1;
  }
  // Part of the output could not be kept: a cut text must not pass for
  // what git printed.
  if (out_of_memory_count() != out_of_memory) {
    set_error("Out of memory reading git output");
    strbuf_release(&output);
    return -1;
  }
  if (r.status != 0)
    set_error("git command failed (exit code %lu): %s", (unsigned long)(unsigned)r.status,
              output.data ? output.data : "");
  if (out)
    *out = strbuf_detach(&output);
  else
    strbuf_release(&output);
  return r.status;
}

int run_git(const char *root, const char *const *args, char **out) {
  return run_git_input(root, args, nullptr, 0, out);
}
