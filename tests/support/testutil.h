// Helpers shared by the tests: temporary directories, running the real git
// on a test's repository, and fake git executables put first on PATH.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Single-quotes a word for /bin/sh.
std::string shq(const std::string &word);

// Runs a shell command, returns its standard output; *status gets the exit
// status when given.
std::string sh(const std::string &command, int *status = nullptr);

// Runs "git -C root ARGS" (ARGS already shell-quoted as needed) and returns
// its standard output.
std::string git(const std::string &root, const std::string &args, int *status = nullptr);

// Runs git with an argument vector (no shell), returning stdout exactly.
std::string git_argv(const std::string &root, const std::vector<std::string> &args,
                     int *status = nullptr);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool exists(const std::string &path);  // lstat: links count as present
bool is_dir(const std::string &path);

// Puts an executable "git" with the given /bin/sh body first on PATH for
// its lifetime. REAL_GIT in the script's environment names the real git.
class FakeGit {
 public:
  explicit FakeGit(const std::string &script_body);
  ~FakeGit();
  FakeGit(const FakeGit &) = delete;
  FakeGit &operator=(const FakeGit &) = delete;
  const std::string &dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string old_path_;
};

// Sets PATH to a directory without git for its lifetime.
class NoGit {
 public:
  NoGit();
  ~NoGit();

 private:
  TempDir dir_;
  std::string old_path_;
};

// Sets an environment variable for its lifetime, restoring the old value
// (or its absence) afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_, old_;
  bool had_;
};

// Counts this process's open descriptors and its child processes.
int open_fd_count();
int child_process_count();

}  // namespace testutil
