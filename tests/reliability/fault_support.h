// What the fault tests share: a wiki with history made by the real git, and
// the leak count around each scenario.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "git/runner.h"
#include "testutil.h"
#include "wikidb.h"

namespace faults {

using namespace testutil;

inline std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// The runner's message for a git that ran and failed.
inline std::string runner_failure(int status, const std::string &output) {
  std::string m = "git command failed (exit code " + std::to_string(status) +
                  "): " + output.substr(0, output.find('\0'));
  if (m.size() > 2047) m.resize(2047);
  return m;
}

// A wiki with two commits of page Alpha, made with the real git, and a
// revision read before any fault so that its text must survive.
struct Wiki {
  TempDir dir;
  std::string root = dir / "wiki";
  wikidb_handle *h = nullptr;
  std::string c1, c2;
  const char *old_revision = nullptr;

  Wiki() {
    h = wikidb_open(root.c_str());
    if (!h) throw std::runtime_error(wikidb_last_error());
    if (wikidb_save_page(h, "Alpha", "first\n", "Ann", "one") != 0 ||
        wikidb_save_page(h, "Alpha", "second\n", "Ann", "two") != 0)
      throw std::runtime_error(wikidb_last_error());
    c1 = trimmed(git(root, "rev-parse HEAD~1"));
    c2 = trimmed(git(root, "rev-parse HEAD"));
    old_revision = wikidb_get_revision(h, "Alpha", c1.c_str());
    if (!old_revision) throw std::runtime_error(wikidb_last_error());
  }
  ~Wiki() { wikidb_close(h); }
};

// Counts descriptors and children around a whole scenario, fault included.
class LeakCounted : public ::testing::Test {
 protected:
  void SetUp() override {
    fds_ = open_fd_count();
    children_ = child_process_count();
    ASSERT_GE(fds_, 0);
  }
  void TearDown() override {
    run_git_set_wait_limit_ms(30000);
    EXPECT_EQ(open_fd_count(), fds_) << "descriptor leaked";
    EXPECT_EQ(child_process_count(), children_) << "child process leaked";
  }

 private:
  int fds_ = 0, children_ = 0;
};

}  // namespace faults
