#include "bare_git.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int bare_git(const std::string &root, const std::vector<std::string> &args, std::string *out,
             const std::string *input) {
  std::vector<const char *> argv = {"git", "--no-pager", "-C", root.c_str()};
  for (const std::string &a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  int out_fds[2], in_fds[2] = {-1, -1};
  if (pipe2(out_fds, O_CLOEXEC) != 0) return -1;
  if (input && pipe2(in_fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (input)
    posix_spawn_file_actions_adddup2(&fa, in_fds[0], 0);
  else
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out_fds[1], 1);
  posix_spawn_file_actions_adddup2(&fa, out_fds[1], 2);
  pid_t pid = -1;
  int err = posix_spawnp(&pid, "git", &fa, nullptr, const_cast<char *const *>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out_fds[1]);
  if (input) close(in_fds[0]);
  if (err) {
    close(out_fds[0]);
    if (input) close(in_fds[1]);
    return -1;
  }

  int in_fd = input ? in_fds[1] : -1;
  size_t written = 0;
  if (in_fd >= 0) {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
    if (input->empty()) {
      close(in_fd);
      in_fd = -1;
    }
  }
  char chunk[65536];
  for (;;) {
    pollfd fds[2] = {{out_fds[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    if (poll(fds, in_fd >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_fd >= 0 && fds[1].revents) {
      ssize_t n = write(in_fd, input->data() + written, input->size() - written);
      if (n > 0) written += (size_t)n;
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input->size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
    if (fds[0].revents) {
      ssize_t n = read(out_fds[0], chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (out) out->append(chunk, (size_t)n);
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_fds[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::string must_git(const std::string &root, const std::vector<std::string> &args,
                     const std::string *input) {
  std::string out;
  int rc = bare_git(root, args, &out, input);
  if (rc != 0) {
    fprintf(stderr, "wikidb_bench: git");
    for (const std::string &a : args) fprintf(stderr, " %s", a.c_str());
    fprintf(stderr, " in %s failed (%d): %s\n", root.c_str(), rc, out.c_str());
    exit(1);
  }
  return out;
}
