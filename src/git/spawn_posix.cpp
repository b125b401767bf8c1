// POSIX process start: posix_spawnp, which glibc implements with a vfork-like
// clone, so starting git stays cheap even from a host with a large heap.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "frame/clock.h"
#include "frame/error.h"
#include "git/spawn.h"

extern char **environ;

// The host's environment less the redirecting variables and those the
// caller sets, plus literal pathspecs and the caller's entries; null when
// out of memory. Only the pointer array is allocated.
static char **child_environment(const char *const *extra) {
  size_t n = 0, x = 0;
  for (char **e = environ; e && *e; e++) n++;
  while (extra && extra[x]) x++;
  char **env = static_cast<char **>(malloc((n + x + 2) * sizeof *env));
  if (!env) return nullptr;
  size_t k = 0;
  for (char **e = environ; e && *e; e++)
    if (!is_redirect_var(*e, false) && !is_overridden_var(*e, extra, false)) env[k++] = *e;
  env[k++] = const_cast<char *>(g_git_literal_pathspecs);
  for (size_t i = 0; i < x; i++) env[k++] = const_cast<char *>(extra[i]);
  env[k] = nullptr;
  return env;
}

static void close_fd(int *fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Moves a descriptor above the standard ones, so that the child's dup2 onto
// 0, 1 and 2 can never collide with it (a host may have closed its stdout).
static int lift_fd(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return lifted;
}

// Linux and the BSDs make both ends close on exec at once; elsewhere
// (macOS) the flag is set just after, a window that matters only to a host
// thread starting a program at that very moment.
[[maybe_unused]] static void set_cloexec(int fds[2]) {
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

static int cloexec_pipe(int fds[2]) {
#if defined(__APPLE__)
  if (pipe(fds) != 0) return -1;
  set_cloexec(fds);
  return 0;
#else
  return pipe2(fds, O_CLOEXEC);
#endif
}

#ifdef MSG_NOSIGNAL
static const int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
#else
static const int kSendFlags = MSG_DONTWAIT;  // the socket carries SO_NOSIGPIPE instead
#endif

static int cloexec_socketpair(int fds[2]) {
#ifdef SOCK_CLOEXEC
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
#else
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
  set_cloexec(fds);
#endif
#if !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
  int on = 1;
  setsockopt(fds[1], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return 0;
}

static long long now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Reads one ready output descriptor into its buffer; closes it at its end.
static void drain_ready(int *fd, strbuf *into) {
  char chunk[4096];
  ssize_t n = read(*fd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    close_fd(fd);
    return;
  }
  strbuf_append(into, chunk, (size_t)n);
}

// Reads both outputs to their end while feeding standard input, so that no
// side can stall on a full pipe. err_fd is -1 when standard error is joined
// with standard output.
static void pump(int out_fd, int err_fd, int in_fd, const char *input, size_t input_len,
                 strbuf *out, strbuf *err) {
  size_t written = 0;
  if (in_fd >= 0 && input_len == 0) close_fd(&in_fd);
  while (out_fd >= 0 || err_fd >= 0) {
    struct pollfd fds[3];
    nfds_t nfds = 0;
    int out_at = -1, err_at = -1, in_at = -1;
    if (out_fd >= 0) {
      out_at = (int)nfds;
      fds[nfds++] = {out_fd, POLLIN, 0};
    }
    if (err_fd >= 0) {
      err_at = (int)nfds;
      fds[nfds++] = {err_fd, POLLIN, 0};
    }
    if (in_fd >= 0) {
      in_at = (int)nfds;
      fds[nfds++] = {in_fd, POLLOUT, 0};
    }
    if (poll(fds, nfds, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_at >= 0 && fds[in_at].revents) {
      ssize_t n = send(in_fd, input + written, input_len - written, kSendFlags);
      if (n > 0) written += (size_t)n;
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input_len) close_fd(&in_fd);
    }
    if (out_at >= 0 && fds[out_at].revents) drain_ready(&out_fd, out);
    if (err_at >= 0 && fds[err_at].revents) drain_ready(&err_fd, err);
  }
  close_fd(&out_fd);
  close_fd(&err_fd);
  close_fd(&in_fd);
}

// Sleeps until the child has exited or the deadline has passed, on a
// descriptor that becomes readable at its exit. False when it timed out;
// true also when the kernel offers no such descriptor, leaving the caller
// to poll.
static bool wait_for_exit(pid_t pid, long long deadline) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  int fd = (int)syscall(SYS_pidfd_open, pid, 0);
  if (fd < 0) return true;
  int r;
  do {
    long long left = deadline - now_ms();
    struct pollfd p = {fd, POLLIN, 0};
    r = poll(&p, 1, left > 0 ? (int)left : 0);
  } while (r < 0 && errno == EINTR);
  close(fd);
  return r != 0;
#else
  (void)pid;
  (void)deadline;
  return true;
#endif
}

// Waits up to wait_ms for the child; terminates and reaps it after that.
static int reap(pid_t pid, int wait_ms) {
  const long long deadline = now_ms() + wait_ms;
  // Git has usually closed its output as it exits: wake at the exit itself
  // rather than at the next step of a sleeping poll, which cost a twentieth
  // of a short command.
  bool expired = !wait_for_exit(pid, deadline);
  long pause_us = 20;
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(st)) return WEXITSTATUS(st);
      if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
      return 0;
    }
    if (r < 0 && errno == EINTR) continue;
    // Not our child any more (SIGCHLD ignored by the host): nothing to read.
    if (r < 0) return 0;
    if (expired || now_ms() >= deadline) break;
    sleep_us(pause_us);
    if (pause_us < 10000) pause_us *= 2;
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return SPAWN_STILL_ACTIVE;
}

spawn_result spawn_git(const spawn_request *req, strbuf *out, strbuf *err) {
  const char *const root = req->root;
  const char *const *const args = req->args;
  const char *const input = req->input;
  spawn_result res = {SPAWN_RAN, 0, 0};
  int pipe_fds[2] = {-1, -1};
  int err_fds[2] = {-1, -1};
  int in_fds[2] = {-1, -1};
  if (cloexec_pipe(pipe_fds) != 0) return {SPAWN_PIPE_FAILED, -1, (unsigned long)errno};
  pipe_fds[0] = lift_fd(pipe_fds[0]);
  pipe_fds[1] = lift_fd(pipe_fds[1]);
  if (err && cloexec_pipe(err_fds) != 0) err_fds[0] = err_fds[1] = -1;
  err_fds[0] = lift_fd(err_fds[0]);
  err_fds[1] = lift_fd(err_fds[1]);
  // A socket rather than a pipe for standard input: send() with
  // MSG_NOSIGNAL cannot raise SIGPIPE in the host when git exits early.
  if (input && cloexec_socketpair(in_fds) != 0) in_fds[0] = in_fds[1] = -1;
  in_fds[0] = lift_fd(in_fds[0]);
  in_fds[1] = lift_fd(in_fds[1]);
  if (pipe_fds[0] < 0 || pipe_fds[1] < 0 || (input && (in_fds[0] < 0 || in_fds[1] < 0)) ||
      (err && (err_fds[0] < 0 || err_fds[1] < 0))) {
    res = {SPAWN_PIPE_FAILED, -1, (unsigned long)(errno ? errno : EMFILE)};
    close_fd(&pipe_fds[0]);
    close_fd(&pipe_fds[1]);
    close_fd(&err_fds[0]);
    close_fd(&err_fds[1]);
    close_fd(&in_fds[0]);
    close_fd(&in_fds[1]);
    return res;
  }

  size_t argc = 0;
  while (args[argc]) argc++;
  const char **argv = static_cast<const char **>(malloc((argc + 5) * sizeof *argv));
  char **env = child_environment(req->env);
  int start_err = (!argv || !env) ? ENOMEM : 0;
  pid_t pid = -1;
  if (!start_err) {
    argv[0] = "git";
    argv[1] = "--no-pager";
    argv[2] = "-C";
    argv[3] = root;
    for (size_t i = 0; i <= argc; i++) argv[4 + i] = args[i];

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    start_err = posix_spawn_file_actions_init(&fa);
    if (!start_err) {
      if (input)
        posix_spawn_file_actions_adddup2(&fa, in_fds[0], 0);
      else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_adddup2(&fa, pipe_fds[1], 1);
      posix_spawn_file_actions_adddup2(&fa, err ? err_fds[1] : pipe_fds[1], 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
      // The host's own descriptors (sockets, files, locks) stay out of git.
      posix_spawn_file_actions_addclosefrom_np(&fa, 3);
#endif
      short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
      // macOS: every descriptor the file actions do not name closes at exec.
      // Other systems without either keep out only what the host marked
      // close-on-exec.
      flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
      posix_spawnattr_init(&attr);
      // git starts with default signal dispositions and an empty mask,
      // whatever the host has blocked or ignored.
      sigset_t none, all;
      sigemptyset(&none);
      sigfillset(&all);
      sigdelset(&all, SIGKILL);
      sigdelset(&all, SIGSTOP);
      posix_spawnattr_setsigmask(&attr, &none);
      posix_spawnattr_setsigdefault(&attr, &all);
      posix_spawnattr_setflags(&attr, flags);
      start_err = posix_spawnp(&pid, "git", &fa, &attr, const_cast<char *const *>(argv), env);
      posix_spawnattr_destroy(&attr);
      posix_spawn_file_actions_destroy(&fa);
    }
  }
  free(argv);
  free(env);
  close_fd(&pipe_fds[1]);
  close_fd(&err_fds[1]);
  close_fd(&in_fds[0]);
  if (start_err) {
    if (start_err == ENOMEM) note_out_of_memory();
    close_fd(&pipe_fds[0]);
    close_fd(&err_fds[0]);
    close_fd(&in_fds[1]);
    return {SPAWN_START_FAILED, -1, (unsigned long)start_err};
  }

  pump(pipe_fds[0], err_fds[0], in_fds[1], input, req->input_len, out, err);
  res.status = reap(pid, req->wait_ms);
  return res;
}
