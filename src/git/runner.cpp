#include "git/runner.h"

#include <stdlib.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/spawn.h"

static int s_wait_limit_ms = 30000;

void run_git_set_wait_limit_ms(int ms) { s_wait_limit_ms = ms; }

int run_git_call(const char *root, const git_call *call, git_output *res) {
  *res = {};
  strbuf output = {}, errors = {};
  const unsigned long out_of_memory = out_of_memory_count();
  const spawn_request req = {root,           call->args, call->input, call->input_len,
                             call->env, s_wait_limit_ms};
  spawn_result r = spawn_git(&req, &output, call->split_stderr ? &errors : nullptr);
  int rc = r.status;
  if (r.outcome == SPAWN_PIPE_FAILED) {
    set_error("CreatePipe failed: %lu", r.error);
    rc = -1;
  } else if (r.outcome == SPAWN_START_FAILED) {
    set_error("CreateProcessA for git failed: %lu", r.error);
    rc = -1;
  } else if (r.outcome == SPAWN_STATUS_LOST) {
    // Without it a refusal (a hook saying no) would pass for success.
    set_error("Exit status of git was lost: the host reaps child processes it did not start "
              "or ignores SIGCHLD");
    rc = -1;
  } else if (out_of_memory_count() != out_of_memory) {
    // Part of the output could not be kept: a cut text must not pass for
    // what git printed.
    set_error("Out of memory reading git output");
    rc = -1;
  }
  if (rc == -1) {
    strbuf_release(&output);
    strbuf_release(&errors);
    return -1;
  }
  if (rc != 0) {
    const strbuf &said = errors.len ? errors : output;
    set_error("git command failed (exit code %lu): %s", (unsigned long)(unsigned)rc,
              said.data ? said.data : "");
  }
  res->out_len = output.len;
  res->out = strbuf_detach(&output);
  res->err_len = errors.len;
  res->err = strbuf_detach(&errors);
  return rc;
}

void git_output_release(git_output *res) {
  free(res->out);
  free(res->err);
  *res = {};
}

int run_git_call_out(const char *root, const git_call *call, char **out) {
  git_output res;
  int rc = run_git_call(root, call, &res);
  if (rc != -1 && out) {
    *out = res.out;
    res.out = nullptr;
  }
  git_output_release(&res);
  return rc;
}

int run_git_input(const char *root, const char *const *args, const char *input, size_t input_len,
                  char **out) {
  const git_call call = {args, input, input_len, nullptr, false};
  return run_git_call_out(root, &call, out);
}

int run_git(const char *root, const char *const *args, char **out) {
  return run_git_input(root, args, nullptr, 0, out);
}
