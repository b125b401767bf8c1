// Several processes using the write API on one wiki at once, and writers
// killed at random points: no edit lost or doubled, the next writer repairs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"
#include "wikidb.h"

namespace {

using testutil::git;
using testutil::shq;

enum { WRITERS = 8, ROUNDS = 6 };

// One writer process: each round appends its own line to the shared page
// with a conditional save (retrying on conflict), then saves its own page.
// Writes "hash expected line" for every shared save to its log. Exits 0, or
// 1 at the first result other than 0 and WIKIDB_CONFLICT.
int writer(const std::string &root, int id, const std::string &log_path) {
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) return 1;
  std::string log;
  const std::string own = "Own-" + std::to_string(id);
  for (int round = 0; round < ROUNDS; round++) {
    const std::string line = "w" + std::to_string(id) + "-r" + std::to_string(round);
    for (;;) {
      const char *r = wikidb_page_revision(h, "Shared");
      if (!r) return 1;
      const std::string expected = r;
      const char *text = wikidb_get_revision(h, "Shared", expected.c_str());
      std::string body = expected.empty() || !text ? "" : text;
      const int rc = wikidb_save_page_if(h, "Shared", (body + line + "\n").c_str(), nullptr,
                                         line.c_str(), expected.c_str(), 0);
      if (rc == WIKIDB_CONFLICT) continue;
      if (rc != 0) return 1;
      log += std::string(wikidb_last_commit(h)) + " " + (expected.empty() ? "-" : expected) + " " +
             line + "\n";
      break;
    }
    const char *mine = wikidb_page_revision(h, own.c_str());
    if (!mine) return 1;
    const std::string mine_rev = mine;
    if (wikidb_save_page_if(h, own.c_str(), line.c_str(), nullptr, nullptr, mine_rev.c_str(), 0) != 0)
      return 1;
  }
  testutil::write_file(log_path, log);
  wikidb_close(h);
  return 0;
}

std::string trim(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

TEST(WriteStress, EightProcessesLoseNothingAndCommitNothingTwice) {
  testutil::TempDir tmp;
  const std::string root = tmp / "wiki";
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr);
  wikidb_close(h);
  std::vector<pid_t> pids;
  for (int id = 0; id < WRITERS; id++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(writer(root, id, tmp / ("log" + std::to_string(id))));
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  // Every line saved is in the page exactly once.
  const std::string text = git(root, "show HEAD:pages/Shared.wiki");
  std::multiset<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.insert(l);
  EXPECT_EQ(lines.size(), (size_t)WRITERS * ROUNDS);
  for (int id = 0; id < WRITERS; id++)
    for (int round = 0; round < ROUNDS; round++)
      EXPECT_EQ(lines.count("w" + std::to_string(id) + "-r" + std::to_string(round)), 1u);
  // Each shared save's commit sits on the revision its writer expected, or on
  // another page's commit made after it.
  for (int id = 0; id < WRITERS; id++) {
    std::istringstream log(testutil::read_file(tmp / ("log" + std::to_string(id))));
    for (std::string commit, expected, line; log >> commit >> expected >> line;) {
      const std::string before = trim(git(root, "rev-list -1 " + commit + "^ -- pages/Shared.wiki 2>/dev/null"));
      EXPECT_EQ(before, expected == "-" ? "" : expected) << line;
      EXPECT_EQ(trim(git(root, "log -1 --format=%s " + commit)), line);
    }
  }
  EXPECT_EQ(trim(git(root, "rev-list --count HEAD")), std::to_string(2 * WRITERS * ROUNDS));
  int st = -1;
  git(root, "fsck --full --no-progress 2>&1", &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(git(root, "status --porcelain --ignored"), "");
  EXPECT_EQ(testutil::sh("ls -a " + shq(root + "/.git") + " | grep -c 'wikidb-journal\\|wikidb-merge\\|index.lock\\|HEAD.lock'"),
            "0\n");
}

TEST(WriteStress, KilledWritersAreRepairedByTheNextWriter) {
  testutil::TempDir tmp;
  const std::string root = tmp / "wiki";
  std::mt19937 rng(std::random_device{}());
  for (int trial = 0; trial < 6; trial++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      wikidb_handle *h = wikidb_open(root.c_str());
      for (int i = 0;; i++) {
        std::string t = "text " + std::to_string(i) + "\n";
        wikidb_begin(h);
        wikidb_stage_save(h, "A", t.c_str(), nullptr);
        wikidb_stage_save(h, "dir/B", t.c_str(), nullptr);
        wikidb_commit(h, nullptr, nullptr, 0);
        wikidb_save_page_if(h, "C", t.c_str(), nullptr, nullptr, nullptr, 0);
      }
    }
    // Somewhere in the middle of a write: the first writes take a while.
    usleep(150000 + rng() % 400000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    wikidb_handle *h = wikidb_open(root.c_str());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(wikidb_save_page_if(h, "Next", "n\n", nullptr, nullptr, nullptr, 0), 0)
        << wikidb_last_error();
    wikidb_close(h);
    // Every page the dead writer touched matches HEAD, in file and index,
    // and no temporary file of its atomic replacement is left beside one.
    EXPECT_EQ(git(root, "status --porcelain"), "") << "trial " << trial;
    int st = -1;
    git(root, "fsck --full --no-progress 2>&1", &st);
    EXPECT_EQ(st, 0);
    // Each commit holds both batch pages at the same text.
    std::istringstream commits(git(root, "rev-list HEAD"));
    for (std::string c; commits >> c;) {
      const std::string a = git(root, "show " + c + ":pages/A.wiki 2>/dev/null");
      const std::string b = git(root, "show " + c + ":pages/dir/B.wiki 2>/dev/null");
      EXPECT_EQ(a, b) << "commit " << c << " holds half a batch";
    }
  }
}

// The same at chosen points: the writer is killed right after each git
// command of its write returns, so every step of the write is hit.
TEST(WriteStress, WriterKilledAfterEachGitStepIsRepaired) {
  testutil::FakeGit fake(
      "\"$REAL_GIT\" \"$@\"; rc=$?\n"
      "for a in \"$@\"; do [ \"$a\" = \"$KILL_AFTER\" ] && kill -9 $PPID; done\n"
      "exit $rc\n");
  const char *steps[] = {"cat-file", "unpack-objects", "commit-tree", "update-ref", "update-index"};
  for (const char *step : steps) {
    testutil::TempDir tmp;
    const std::string root = tmp / "wiki";
    wikidb_handle *h = wikidb_open(root.c_str());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(wikidb_save_page(h, "A", "old\n", nullptr, nullptr), 0);
    wikidb_close(h);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("KILL_AFTER", step, 1);
      wikidb_handle *c = wikidb_open(root.c_str());
      wikidb_begin(c);
      wikidb_stage_save(c, "A", "new\n", nullptr);
      wikidb_stage_save(c, "dir/B", "new\n", nullptr);
      wikidb_commit(c, nullptr, nullptr, 0);
      _exit(3);  // not killed: the step was never reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << step;
    h = wikidb_open(root.c_str());
    ASSERT_EQ(wikidb_save_page_if(h, "Next", "n\n", nullptr, nullptr, nullptr, 0), 0)
        << step << ": " << wikidb_last_error();
    wikidb_close(h);
    EXPECT_EQ(git(root, "status --porcelain"), "") << "after " << step;
    const std::string a = git(root, "show HEAD:pages/A.wiki");
    EXPECT_TRUE(a == "old\n" || a == "new\n") << step;
    EXPECT_EQ(git(root, "show HEAD:pages/dir/B.wiki 2>/dev/null"), a == "new\n" ? "new\n" : "")
        << step;
    int st = -1;
    git(root, "fsck --full --no-progress 2>&1", &st);
    EXPECT_EQ(st, 0);
  }
}

}  // namespace
