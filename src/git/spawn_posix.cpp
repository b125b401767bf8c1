// POSIX process start and the collection of git's output and status.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "frame/clock.h"
#include "frame/error.h"
#include "git/spawn.h"

extern char **environ;

// The host's environment less the variables kept from git and those the
// caller sets, plus the library's profile and the caller's entries; null
// when out of memory. Only the pointer array is allocated.
static char **child_environment(const char *const *extra) {
  size_t n = 0, x = 0, pinned = 0;
  for (char **e = environ; e && *e; e++) n++;
  while (extra && extra[x]) x++;
  while (g_git_profile_env[pinned]) pinned++;
  char **env = static_cast<char **>(malloc((n + pinned + x + 1) * sizeof *env));
  if (!env) return nullptr;
  size_t k = 0;
  for (char **e = environ; e && *e; e++)
    if (!is_removed_var(*e, false) && !is_overridden_var(*e, extra, false)) env[k++] = *e;
  for (size_t i = 0; i < pinned; i++)
    if (!is_overridden_var(g_git_profile_env[i], extra, false))
      env[k++] = const_cast<char *>(g_git_profile_env[i]);
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

// A started git: its process, a descriptor readable at its exit (-1 when
// the kernel offers none), and its status once collected.
struct child_proc {
  pid_t pid;
  int pidfd;
  bool done;
  bool lost;  // ended, but its status could not be read
  int status;
};

static int status_of_wait(int st) {
  return WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : 0;
}

#if defined(__linux__)
// What the kernel keeps of a process that has ended, for its descriptor's
// holder, even when the process was reaped by someone else (Linux 6.15 on).
struct pidfd_exit_info {
  uint64_t mask;
  uint64_t cgroupid;
  uint32_t ids[11];
  int32_t exit_code;  // a wait status
};
enum : uint64_t { PIDFD_EXIT_BIT = 1u << 3 };
#define WIKIDB_PIDFD_GET_INFO _IOWR(0xFF, 11, pidfd_exit_info)

// The status the kernel kept for an ended child whose wait status is gone
// (the host ignores SIGCHLD, so the system reaped it, or the host reaped
// it). False on kernels that keep none.
static bool kept_exit_status(int pidfd, int *status) {
  if (pidfd < 0) return false;
  // The record is written just after the exit is announced: look a few
  // times, a bounded while.
  for (int attempt = 0; attempt < 200; attempt++) {
    pidfd_exit_info info;
    memset(&info, 0, sizeof info);
    info.mask = PIDFD_EXIT_BIT;
    if (ioctl(pidfd, WIKIDB_PIDFD_GET_INFO, &info) == 0) {
      if (info.mask & PIDFD_EXIT_BIT) {
        *status = status_of_wait(info.exit_code);
        return true;
      }
    } else if (errno != ESRCH && errno != EINTR) {
      return false;  // a kernel without the request
    }
    sleep_us(5000);
  }
  return false;
}
#endif

// Collects the child's status without waiting. True once it has ended.
static bool try_reap(child_proc *c) {
  while (!c->done) {
#if defined(__linux__)
    if (c->pidfd >= 0) {
      // Through the descriptor: exactly this child, never a host's child
      // that has come to carry a reused number.
      siginfo_t info;
      memset(&info, 0, sizeof info);
      if (waitid((idtype_t)P_PIDFD, (id_t)c->pidfd, &info, WEXITED | WNOHANG) == 0) {
        if (info.si_pid == 0) return false;
        c->done = true;
        c->status = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
        return true;
      }
      if (errno == EINTR) continue;
      if (errno == ECHILD) {
        c->done = true;
        c->lost = !kept_exit_status(c->pidfd, &c->status);
        return true;
      }
      // A kernel without waits on descriptors: by number below.
    }
#endif
    int st = 0;
    pid_t r = waitpid(c->pid, &st, WNOHANG);
    if (r == c->pid) {
      c->done = true;
      c->status = status_of_wait(st);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else if (r < 0) {
      // ECHILD: the host reaped it or had the system do so; the status is
      // gone, and a guess would turn a refusal into success.
      c->done = true;
      c->lost = true;
    } else {
      return false;
    }
  }
  return true;
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

static int s_grace_ms = SPAWN_DRAIN_GRACE_MS;

void spawn_set_drain_grace_ms(int ms) { s_grace_ms = ms; }

static int s_run_limit_ms = SPAWN_RUN_LIMIT_MS;

void spawn_set_run_limit_ms(int ms) { s_run_limit_ms = ms; }

// Reads what a pipe holds now, however long that takes: at git's exit that
// is everything git wrote, which no grace may cut short on a busy machine.
static void drain_pending(int *fd, strbuf *into) {
  int avail = 0;
  if (*fd < 0 || ioctl(*fd, FIONREAD, &avail) != 0) return;
  char chunk[4096];
  while (avail > 0) {
    ssize_t n = read(*fd, chunk, (size_t)avail < sizeof chunk ? (size_t)avail : sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0 || errno != EAGAIN) close_fd(fd);
      return;
    }
    strbuf_append(into, chunk, (size_t)n);
    avail -= (int)n;
  }
}

// Reads both outputs to their end while feeding standard input, so that no
// side can stall on a full pipe. err_fd is -1 when standard error is joined
// with standard output. Once git itself has exited, everything it wrote is
// already in the pipes and is read at once; then the pipes are read for a
// short grace more and closed, so a background child of a hook that keeps
// them open cannot hold the caller. Returns false when git was still
// running with its output open at the run limit.
static bool pump(int out_fd, int err_fd, int in_fd, const char *input, size_t input_len,
                 strbuf *out, strbuf *err, child_proc *child) {
  size_t written = 0;
  long long grace_end = 0;
  const long long run_end = now_ms() + s_run_limit_ms;
  bool in_time = true;
  int pause_ms = 1;
  if (in_fd >= 0 && input_len == 0) close_fd(&in_fd);
  while (out_fd >= 0 || err_fd >= 0) {
    struct pollfd fds[4];
    nfds_t nfds = 0;
    int out_at = -1, err_at = -1, in_at = -1, pid_at = -1;
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
    int timeout = -1;
    if (child->done) {
      long long left = grace_end - now_ms();
      if (left <= 0) break;
      timeout = (int)left;
    } else if (child->pidfd >= 0) {
      pid_at = (int)nfds;
      fds[nfds++] = {child->pidfd, POLLIN, 0};
    } else {
      // No descriptor tells of the exit: look for it now and then.
      timeout = pause_ms;
      if (pause_ms < 50) pause_ms *= 2;
    }
    if (!child->done) {
      const long long left = run_end - now_ms();
      if (left <= 0) {
        in_time = false;
        break;
      }
      if (timeout < 0 || timeout > left) timeout = (int)left;
    }
    int ready = poll(fds, nfds, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (ready < 0) continue;
    if (!child->done && (pid_at < 0 || fds[pid_at].revents)) {
      if (try_reap(child)) {
        drain_pending(&out_fd, out);
        drain_pending(&err_fd, err);
        grace_end = now_ms() + s_grace_ms;
        close_fd(&in_fd);  // nobody reads it any more
        in_at = -1;
      } else if (pid_at >= 0) {
        // Readable yet not ended: never spin on it, look now and then.
        close_fd(&child->pidfd);
      }
    }
    if (in_at >= 0 && fds[in_at].revents) {
      ssize_t n = send(in_fd, input + written, input_len - written, kSendFlags);
      if (n > 0) written += (size_t)n;
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input_len) close_fd(&in_fd);
    }
    if (out_at >= 0 && out_fd >= 0 && fds[out_at].revents) drain_ready(&out_fd, out);
    if (err_at >= 0 && err_fd >= 0 && fds[err_at].revents) drain_ready(&err_fd, err);
  }
  close_fd(&out_fd);
  close_fd(&err_fd);
  close_fd(&in_fd);
  return in_time;
}

// Waits up to wait_ms for a child that closed its output to exit;
// terminates and reaps it after that.
static void reap(child_proc *c, int wait_ms) {
  const long long deadline = now_ms() + wait_ms;
  long pause_us = 20;
  while (!try_reap(c)) {
    long long left = deadline - now_ms();
    if (left <= 0) break;
    if (c->pidfd >= 0) {
      // Wake at the exit itself rather than at the next step of a sleeping
      // poll, which cost a twentieth of a short command.
      struct pollfd p = {c->pidfd, POLLIN, 0};
      int r = poll(&p, 1, (int)left);
      if (r > 0 && !try_reap(c)) close_fd(&c->pidfd);
      continue;
    }
    sleep_us(pause_us);
    if (pause_us < 10000) pause_us *= 2;
  }
  if (c->done) return;
  kill(c->pid, SIGKILL);
  while (waitpid(c->pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  c->done = true;
  c->lost = false;
  c->status = SPAWN_STILL_ACTIVE;
}

static bool s_portable_start = false;

void spawn_use_portable_start(bool on) { s_portable_start = on; }

// What the child needs between its start and the exec of git.
struct child_setup {
  const char *const *argv;
  char *const *envp;
  int in_fd;  // -1: /dev/null
  int out_fd;
  int err_fd;
  volatile int error;  // errno of a failed exec, seen by the parent
  pid_t parent;        // the host process that starts git
};

// The portable start: posix_spawnp, which glibc implements with a vfork-like
// clone, so starting git stays cheap even from a host with a large heap.
// Without a descriptor of the child made at its start, a host that ignores
// SIGCHLD or reaps every child can take git's status away.
static int start_portable(const child_setup *s, pid_t *pid) {
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  int err = posix_spawn_file_actions_init(&fa);
  if (err) return err;
  if (s->in_fd >= 0)
    posix_spawn_file_actions_adddup2(&fa, s->in_fd, 0);
  else
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, s->out_fd, 1);
  posix_spawn_file_actions_adddup2(&fa, s->err_fd, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // The host's own descriptors (sockets, files, locks) stay out of git.
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
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
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
  // macOS: every descriptor the file actions do not name closes at exec.
  // Other systems without either keep out only what the host marked
  // close-on-exec.
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  posix_spawnattr_setflags(&attr, flags);
  err = posix_spawnp(pid, "git", &fa, &attr, const_cast<char *const *>(s->argv), s->envp);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  return err;
}

#if defined(__linux__)
// Runs in the child, on its own stack but in the parent's memory, which
// waits meanwhile (as vfork): only calls that touch no shared state.
static int child_main(void *arg) {
  child_setup *s = static_cast<child_setup *>(arg);
  // The dispositions are this child's own copy: no host handler may run
  // here, and git starts with every signal at its default, none blocked.
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; sig++)
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  // A git whose writer was killed must not go on changing the repository
  // (moving a branch, writing the index) while the next writer repairs
  // what the dead one left: it dies with the thread that started it.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != s->parent) {
    s->error = ECHILD;
    _exit(127);
  }
  int in = s->in_fd >= 0 ? s->in_fd : open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0 || dup2(in, 0) < 0 || dup2(s->out_fd, 1) < 0 || dup2(s->err_fd, 2) < 0) {
    s->error = errno ? errno : EBADF;
    _exit(127);
  }
  // The host's own descriptors (sockets, files, locks) stay out of git.
#if defined(SYS_close_range)
  if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
  {
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 3; fd < max; fd++) close(fd);
  }
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execvpe("git", const_cast<char *const *>(s->argv), s->envp);
  s->error = errno;
  _exit(127);
}

// The start used on Linux: as posix_spawnp (a vfork-like clone, cheap
// even from a host with a large heap), but with a descriptor of the child
// made at its creation, before it can end and be reaped by anyone.
static int start_with_descriptor(child_setup *s, pid_t *pid, int *pidfd) {
  const size_t stack_size = 256 * 1024;
  void *stack = mmap(nullptr, stack_size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack == MAP_FAILED) return errno;
  // Blocked across the start so that no host handler runs in the child,
  // which shares this memory until it execs.
  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &old);
  s->error = 0;
  int fd = -1;
  char *top = static_cast<char *>(stack) + stack_size;
  pid_t p = clone(child_main, top, CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD, s, &fd);
  if (p < 0 && errno == EINVAL) {
    fd = -1;  // a kernel before descriptors of processes
    p = clone(child_main, top, CLONE_VM | CLONE_VFORK | SIGCHLD, s);
  }
  int err = p < 0 ? errno : 0;
  sigprocmask(SIG_SETMASK, &old, nullptr);
  munmap(stack, stack_size);
  if (err) return err;
  if (s->error) {
    // The exec failed: the child has already ended; take its status.
    while (waitpid(p, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (fd >= 0) close(fd);
    return s->error;
  }
  *pid = p;
  *pidfd = fd >= 0 ? lift_fd(fd) : -1;
  return 0;
}
#endif

// A descriptor readable at the child's exit, or -1.
static int exit_descriptor(pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  int fd = (int)syscall(SYS_pidfd_open, pid, 0);
  return fd >= 0 ? lift_fd(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
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
  child_proc child = {-1, -1, false, false, 0};
  if (!start_err) {
    argv[0] = "git";
    argv[1] = "--no-pager";
    argv[2] = "-C";
    argv[3] = root;
    for (size_t i = 0; i <= argc; i++) argv[4 + i] = args[i];
    child_setup setup = {argv, env, input ? in_fds[0] : -1, pipe_fds[1],
                         err ? err_fds[1] : pipe_fds[1], 0, getpid()};
#if defined(__linux__)
    if (!s_portable_start)
      start_err = start_with_descriptor(&setup, &child.pid, &child.pidfd);
    else
#endif
      start_err = start_portable(&setup, &child.pid);
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

  if (child.pidfd < 0 && !s_portable_start) child.pidfd = exit_descriptor(child.pid);
  // Our ends only (git's stay blocking): a read that poll announced before
  // the exit's drain took the bytes must not then wait for a hook's child.
  fcntl(pipe_fds[0], F_SETFL, fcntl(pipe_fds[0], F_GETFL) | O_NONBLOCK);
  if (err_fds[0] >= 0) fcntl(err_fds[0], F_SETFL, fcntl(err_fds[0], F_GETFL) | O_NONBLOCK);
  const bool in_time = pump(pipe_fds[0], err_fds[0], in_fds[1], input, req->input_len, out, err, &child);
  if (!child.done) reap(&child, in_time ? req->wait_ms : 0);
  close_fd(&child.pidfd);
  if (child.lost) return {SPAWN_STATUS_LOST, -1, 0};
  res.status = child.status;
  return res;
}
