// The commit-graph the library keeps for fast page histories: when it is
// written, that every report reads the same with or without it, and that a
// failing write is never seen by the caller.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <utime.h>

#include <string>
#include <vector>

#include "testutil.h"
#include "wikidb.h"

using testutil::FakeGit;
using testutil::TempDir;

namespace {

// Logs every commit-graph command, then runs the real git.
const char *kLoggingGit =
    "if [ \"$4\" = commit-graph ]; then echo \"$*\" >> \"$WIKIDB_TEST_LOG\"; fi\n"
    "exec \"$REAL_GIT\" \"$@\"";
// Logs and fails every commit-graph command; everything else is real git.
const char *kFailingGraphGit =
    "if [ \"$4\" = commit-graph ]; then echo \"$*\" >> \"$WIKIDB_TEST_LOG\";"
    " echo 'fatal: could not write the commit-graph' >&2; exit 1; fi\n"
    "exec \"$REAL_GIT\" \"$@\"";

class CommitGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_ / "wiki";
    log_ = tmp_ / "graph.log";
    setenv("WIKIDB_TEST_LOG", log_.c_str(), 1);
  }
  void TearDown() override { unsetenv("WIKIDB_TEST_LOG"); }

  std::string info() const { return root_ + "/.git/objects/info"; }
  bool has_graph() const {
    return testutil::exists(info() + "/commit-graph") ||
           testutil::exists(info() + "/commit-graphs/commit-graph-chain");
  }
  void remove_graph() const { testutil::sh("rm -rf " + testutil::shq(info()) + "/commit-graph*"); }
  // Dates the graph an hour back, so that every commit in the reflog is
  // newer than it, whatever the second it was made in.
  void age_graph() const {
    const time_t past = time(nullptr) - 3600;
    struct utimbuf t = {past, past};
    for (const std::string &f : {info() + "/commit-graph", info() + "/commit-graphs/commit-graph-chain"}) {
      if (testutil::exists(f)) {
        ASSERT_EQ(utime(f.c_str(), &t), 0) << f;
      }
    }
  }
  int graph_commands() const {
    if (!testutil::exists(log_)) return 0;
    const std::string log = testutil::read_file(log_);
    int n = 0;
    for (char c : log) n += c == '\n';
    return n;
  }
  void save(wikidb_handle *h, const std::string &title, const std::string &text) {
    ASSERT_EQ(wikidb_save_page(h, title.c_str(), text.c_str(), "Ann", nullptr), 0) << wikidb_last_error();
    EXPECT_STREQ(wikidb_last_error(), "");
  }
  // count commits from a handle of their own; every text is new.
  void saves(int count, const std::string &title) {
    wikidb_handle *h = wikidb_open(root_.c_str());
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < count; i++) save(h, title, "text " + std::to_string(++texts_));
    wikidb_close(h);
  }

  TempDir tmp_;
  std::string root_, log_;
  int texts_ = 0;
};

TEST_F(CommitGraph, OpenWritesAMissingGraphOnlyWhenThereAreCommits) {
  {
    FakeGit fake(kLoggingGit);
    wikidb_handle *h = wikidb_open(root_.c_str());
    ASSERT_NE(h, nullptr);
    wikidb_close(h);
  }
  EXPECT_EQ(graph_commands(), 0) << "an empty wiki needs no graph";
  saves(3, "Page");
  EXPECT_FALSE(has_graph()) << "three commits are below the handle's refresh";
  {
    FakeGit fake(kLoggingGit);
    wikidb_handle *h = wikidb_open(root_.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(wikidb_last_error(), "");
    wikidb_close(h);
  }
  EXPECT_EQ(graph_commands(), 1);
  EXPECT_TRUE(has_graph());
  // Current now: the next open leaves it alone.
  {
    FakeGit fake(kLoggingGit);
    wikidb_close(wikidb_open(root_.c_str()));
  }
  EXPECT_EQ(graph_commands(), 1);
}

TEST_F(CommitGraph, OpenRefreshesAGraphFiftyCommitsBehind) {
  saves(1, "Page");
  wikidb_close(wikidb_open(root_.c_str()));
  ASSERT_TRUE(has_graph());
  age_graph();
  // Handles closed before their own refresh: 1 + 48 commits behind.
  saves(20, "Page");
  saves(28, "Other");
  {
    FakeGit fake(kLoggingGit);
    wikidb_close(wikidb_open(root_.c_str()));
  }
  EXPECT_EQ(graph_commands(), 0) << "49 commits behind is still current enough";
  saves(1, "Page");
  {
    FakeGit fake(kLoggingGit);
    wikidb_close(wikidb_open(root_.c_str()));
  }
  EXPECT_EQ(graph_commands(), 1) << "50 commits behind is refreshed";
}

TEST_F(CommitGraph, AHandleRefreshesAfterEveryFiftyCommits) {
  saves(1, "Page");
  FakeGit fake(kLoggingGit);
  wikidb_handle *h = wikidb_open(root_.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(graph_commands(), 1);  // the missing graph, at open
  for (int i = 0; i < 49; i++) save(h, "Page", "v" + std::to_string(i));
  EXPECT_EQ(graph_commands(), 1);
  save(h, "Page", "fiftieth");
  EXPECT_EQ(graph_commands(), 2);
  for (int i = 0; i < 50; i++) save(h, "Other", "w" + std::to_string(i));
  EXPECT_EQ(graph_commands(), 3);
  wikidb_close(h);
}

// Every report of a wiki with saves, deletions, empty pages and unusual
// titles, as text.
std::vector<std::string> reports(wikidb_handle *h, const std::vector<std::string> &titles) {
  std::vector<std::string> out;
  for (const std::string &t : titles) out.push_back(wikidb_get_history_json(h, t.c_str()));
  out.push_back(wikidb_get_history_json(h, nullptr));
  out.push_back(wikidb_get_recent_changes_json(h, 0));
  out.push_back(wikidb_list_pages_json(h, nullptr));
  return out;
}

TEST_F(CommitGraph, ReportsAreTheSameWithAndWithoutTheGraph) {
  const std::vector<std::string> titles = {"plain", "sp ace", "dq\"q", "caf\xc3\xa9", "dir/sub", "gone"};
  wikidb_handle *h = wikidb_open(root_.c_str());
  ASSERT_NE(h, nullptr);
  for (int round = 0; round < 3; round++)
    for (const std::string &t : titles) save(h, t, round == 1 ? "" : t + " round " + std::to_string(round));
  ASSERT_EQ(wikidb_delete_page(h, "gone", nullptr, nullptr), 0);
  ASSERT_EQ(wikidb_delete_page(h, "plain", nullptr, nullptr), 0);
  save(h, "plain", "back again");

  remove_graph();
  const std::vector<std::string> without = reports(h, titles);
  ASSERT_EQ(without.size(), titles.size() + 3);
  EXPECT_NE(without[0], "[]");

  testutil::git(root_, "commit-graph write --reachable --changed-paths --split");
  ASSERT_TRUE(has_graph());
  EXPECT_EQ(reports(h, titles), without) << "fresh graph";

  // Stale: the graph misses the newest commits.
  save(h, "plain", "after the graph");
  ASSERT_EQ(wikidb_delete_page(h, "dq\"q", nullptr, nullptr), 0);
  const std::vector<std::string> stale = reports(h, titles);
  remove_graph();
  EXPECT_EQ(reports(h, titles), stale) << "graph removed";
  EXPECT_NE(stale, without);  // the two new commits show

  // A graph without changed-path filters, then split layers over it.
  testutil::git(root_, "commit-graph write --reachable");
  EXPECT_EQ(reports(h, titles), stale) << "graph without filters";
  save(h, "sp ace", "layered");
  testutil::git(root_, "commit-graph write --reachable --changed-paths --split");
  const std::vector<std::string> layered = reports(h, titles);
  remove_graph();
  EXPECT_EQ(reports(h, titles), layered) << "split graph";
  wikidb_close(h);
}

TEST_F(CommitGraph, AFailingWriteNeitherFailsNorReports) {
  saves(2, "Page");
  FakeGit fake(kFailingGraphGit);
  wikidb_handle *h = wikidb_open(root_.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_EQ(graph_commands(), 1);  // the missing graph was tried
  for (int i = 0; i < 50; i++) save(h, "Page", "v" + std::to_string(i));  // slot checked in save
  EXPECT_EQ(graph_commands(), 2);  // the fiftieth commit tried again
  ASSERT_EQ(wikidb_delete_page(h, "Page", nullptr, nullptr), 0);
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_FALSE(has_graph());
  // The reports read the wiki as ever.
  EXPECT_EQ(std::string(wikidb_get_history_json(h, "Page")).substr(0, 9), "[{\"hash\":");
  EXPECT_STREQ(wikidb_last_error(), "");
  wikidb_close(h);

  // A failed setting's message outlives the failed graph write at open.
  FakeGit worse(
      "if [ \"$4\" = config ]; then echo 'error: could not lock config file' >&2; exit 255; fi\n"
      "if [ \"$4\" = commit-graph ]; then echo 'fatal: no graph' >&2; exit 1; fi\n"
      "exec \"$REAL_GIT\" \"$@\"");
  h = wikidb_open(root_.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 255): error: could not lock config file\n");
  wikidb_close(h);
}

}  // namespace
