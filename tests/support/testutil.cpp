#include "testutil.h"

#include <dirent.h>
#include <ftw.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace testutil {

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/wikidb-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}

TempDir::~TempDir() {
  // Tests may leave read-only directories behind; make them writable first.
  sh("chmod -R u+rwx " + shq(path_) + " 2>/dev/null");
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string shq(const std::string &word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string sh(const std::string &command, int *status) {
  FILE *p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("popen failed");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

std::string git(const std::string &root, const std::string &args, int *status) {
  return sh("git -C " + shq(root) + " " + args, status);
}

std::string git_argv(const std::string &root, const std::vector<std::string> &args, int *status) {
  std::vector<std::string> words = {"git", "-C", root};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(const_cast<char *>(w.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  pid_t pid;
  int err = posix_spawnp(&pid, "git", &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  if (err == 0) {
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    int st = 0;
    waitpid(pid, &st, 0);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  } else if (status) {
    *status = -1;
  }
  close(fds[0]);
  return out;
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), (std::streamsize)bytes.size());
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static std::string real_git_path() {
  std::string p = sh("command -v git");
  while (!p.empty() && p.back() == '\n') p.pop_back();
  return p;
}

FakeGit::FakeGit(const std::string &script_body) {
  const char *path = getenv("PATH");
  old_path_ = path ? path : "";
  const std::string real = real_git_path();
  const std::string script = dir_ / "git";
  write_file(script, "#!/bin/sh\nREAL_GIT=" + shq(real) + "\n" + script_body + "\n");
  chmod(script.c_str(), 0755);
  setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
}

FakeGit::~FakeGit() { setenv("PATH", old_path_.c_str(), 1); }

NoGit::NoGit() {
  const char *path = getenv("PATH");
  old_path_ = path ? path : "";
  setenv("PATH", dir_.path().c_str(), 1);
}

NoGit::~NoGit() { setenv("PATH", old_path_.c_str(), 1); }

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

int open_fd_count() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n - 1;  // the directory stream's own descriptor
}

int child_process_count() {
  // Children of this process, zombies included, from /proc.
  const std::string me = std::to_string(getpid());
  int n = 0;
  DIR *d = opendir("/proc");
  if (!d) return -1;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::string stat = read_file(std::string("/proc/") + e->d_name + "/stat");
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    std::istringstream fields(stat.substr(close_paren + 2));
    std::string state, ppid;
    fields >> state >> ppid;
    if (ppid == me) n++;
  }
  closedir(d);
  return n;
}

}  // namespace testutil
