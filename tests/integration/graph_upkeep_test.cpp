// The commit-graph of an imported history gets its changed-path filters in
// bounded steps, one per open or periodic refresh, until complete; and git's
// "gc --auto" runs on the refresh cadence, in the foreground.
#include <gtest/gtest.h>
#include <stdint.h>

#include <fstream>
#include <string>
#include <vector>

#include "git/commit_graph.h"
#include "testutil.h"
#include "wikidb.h"

using testutil::FakeGit;
using testutil::TempDir;

namespace {

// Logs the commit-graph and gc commands (their whole argument list), then
// runs the real git.
const char *kLoggingGit =
    "case \"$*\" in *commit-graph*|*\" gc \"*) echo \"$*\" >> \"$WIKIDB_TEST_LOG\";; esac\n"
    "exec \"$REAL_GIT\" \"$@\"";

uint32_t be32(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// Commits of one graph file without a filter: git leaves their index entry
// where the previous one ended. -1 when the file has no filter chunk.
long missing_in_layer(const std::string &file) {
  std::ifstream f(file, std::ios::binary);
  std::vector<unsigned char> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() < 8) return -1;
  const unsigned chunks = d[6];
  for (unsigned i = 0; i < chunks; i++) {
    const unsigned char *e = d.data() + 8 + i * 12;
    if (std::string(e, e + 4) != "BIDX") continue;
    const uint32_t start = be32(e + 8), end = be32(e + 20);  // offsets below 4 GiB
    long missing = 0;
    uint32_t prev = 0;
    for (uint32_t at = start; at < end; at += 4) {
      const uint32_t v = be32(d.data() + at);
      missing += v == prev;
      prev = v;
    }
    return missing;
  }
  return -1;
}

class GraphUpkeep : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_ / "wiki";
    log_ = tmp_ / "git.log";
    setenv("WIKIDB_TEST_LOG", log_.c_str(), 1);
  }
  void TearDown() override { unsetenv("WIKIDB_TEST_LOG"); }

  // An imported history of `commits` commits over 20 pages, without graph.
  void import(int commits) {
    wikidb_close(wikidb_open(root_.c_str()));
    std::string stream;
    for (int i = 0; i < commits; i++) {
      const std::string text = "page text " + std::to_string(i) + "\n";
      stream += "commit refs/heads/import\ncommitter Imp <imp@example.org> " +
                std::to_string(1600000000 + i) + " +0000\ndata 7\nimport\nM 100644 inline pages/P" +
                std::to_string(i % 20) + ".wiki\ndata " + std::to_string(text.size()) + "\n" + text + "\n";
    }
    testutil::write_file(tmp_ / "stream", stream);
    int status = 0;
    testutil::sh("git -C " + testutil::shq(root_) + " fast-import --quiet < " +
                     testutil::shq(tmp_ / "stream"),
                 &status);
    ASSERT_EQ(status, 0);
    testutil::git(root_, "checkout -q -B import import", &status);
    ASSERT_EQ(status, 0);
  }
  // Commits without a filter over every layer; -1 without any graph.
  long missing_filters() const {
    const std::string info = root_ + "/.git/objects/info";
    if (testutil::exists(info + "/commit-graph")) return missing_in_layer(info + "/commit-graph");
    if (!testutil::exists(info + "/commit-graphs/commit-graph-chain")) return -1;
    long missing = 0;
    std::ifstream chain(info + "/commit-graphs/commit-graph-chain");
    for (std::string line; std::getline(chain, line);) {
      if (line.empty()) continue;
      const long m = missing_in_layer(info + "/commit-graphs/graph-" + line + ".graph");
      if (m < 0) return -1;
      missing += m;
    }
    return missing;
  }
  std::vector<std::string> logged() const {
    std::vector<std::string> lines;
    std::ifstream f(log_);
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
  }
  std::string history(const char *title) {
    wikidb_handle *h = wikidb_open(root_.c_str());
    EXPECT_NE(h, nullptr);
    std::string json = wikidb_get_history_json(h, title);
    wikidb_close(h);
    return json;
  }

  TempDir tmp_;
  std::string root_, log_;
};

TEST_F(GraphUpkeep, FiltersOfAnImportAreCompletedOverSeveralOpens) {
  const int commits = GRAPH_NEW_FILTERS * 2 + GRAPH_NEW_FILTERS / 2;
  import(commits);
  testutil::sh("rm -rf " + testutil::shq(root_ + "/.git/objects/info") + "/commit-graph*");
  ASSERT_EQ(missing_filters(), -1);
  // What the reports say without any graph: every later state must agree.
  const std::string p3 = history("P3");
  testutil::sh("rm -rf " + testutil::shq(root_ + "/.git/objects/info") + "/commit-graph*");
  ASSERT_EQ(missing_filters(), -1);

  FakeGit fake(kLoggingGit);
  // The first open writes the whole graph, with a bounded share of filters;
  // each later one adds another share, until none is missing.
  const long expect[] = {commits - GRAPH_NEW_FILTERS, commits - 2 * GRAPH_NEW_FILTERS, 0};
  for (int step = 0; step < 3; step++) {
    wikidb_handle *h = wikidb_open(root_.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(wikidb_last_error(), "");
    EXPECT_EQ(missing_filters(), expect[step]) << "after open " << step + 1;
    EXPECT_EQ(wikidb_get_history_json(h, "P3"), p3) << "after open " << step + 1;
    wikidb_close(h);
  }
  ASSERT_EQ(logged().size(), 3u);
  EXPECT_NE(logged()[0].find("--split --max-new-filters="), std::string::npos) << logged()[0];
  EXPECT_NE(logged()[1].find("--split=replace --max-new-filters="), std::string::npos) << logged()[1];
  // Complete: the next open writes nothing.
  wikidb_close(wikidb_open(root_.c_str()));
  EXPECT_EQ(logged().size(), 3u);
  EXPECT_TRUE(commit_graph_filters_complete(root_.c_str()));
}

TEST_F(GraphUpkeep, AGraphWithoutFiltersIsFilledAtTheRefreshToo) {
  import(120);
  // A graph written by other means, without any filter (as plain git or
  // gc may leave it), then a handle that saves 50 times.
  testutil::git(root_, "commit-graph write --reachable");
  ASSERT_EQ(missing_filters(), -1) << "no filter chunk at all";
  EXPECT_FALSE(commit_graph_filters_complete(root_.c_str()));
  const std::string before = history("P1");  // that open already fills
  EXPECT_EQ(missing_filters(), 0);
  // Filters already in a graph are kept by any later write: start again
  // with a graph that has the chunk but none of the filters.
  const std::string filterless =
      "rm -rf " + testutil::shq(root_ + "/.git/objects/info") + "/commit-graph* && git -C " +
      testutil::shq(root_) + " commit-graph write --reachable --changed-paths --split --max-new-filters=0";
  testutil::sh(filterless);
  EXPECT_EQ(missing_filters(), 120);
  FakeGit fake(kLoggingGit);
  wikidb_handle *h = wikidb_open(root_.c_str());  // fills once more
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(missing_filters(), 0);
  testutil::sh(filterless);
  for (int i = 0; i < 50; i++)
    ASSERT_EQ(wikidb_save_page(h, "P1", ("saved " + std::to_string(i)).c_str(), "Ann", nullptr), 0);
  EXPECT_EQ(missing_filters(), 0) << "the fiftieth commit's refresh rewrote the graph";
  // The 50 new commits come first, then the imported history unchanged.
  const std::string after = wikidb_get_history_json(h, "P1");
  ASSERT_GT(after.size(), before.size());
  EXPECT_EQ(after.substr(after.size() - (before.size() - 1)), before.substr(1));
  wikidb_close(h);
}

// gc --auto on the refresh cadence: in the foreground (nothing left running,
// no gc.log), without touching the graph, and a failing gc leaves no trace.
TEST_F(GraphUpkeep, GcAutoRunsOnTheRefreshCadence) {
  wikidb_handle *h = wikidb_open(root_.c_str());
  ASSERT_NE(h, nullptr);
  // Two packs, and a limit of one: gc --auto has work to do.
  for (int i = 0; i < 2; i++) {
    ASSERT_EQ(wikidb_save_page(h, "A", std::to_string(i).c_str(), "Ann", nullptr), 0);
    testutil::git(root_, "repack -q -d");
  }
  testutil::git(root_, "config gc.autoPackLimit 1");
  testutil::git(root_, "config gc.autoDetach true");  // the library's own setting wins
  {
    FakeGit fake(kLoggingGit);
    for (int i = 0; i < 47; i++)
      ASSERT_EQ(wikidb_save_page(h, "A", ("x" + std::to_string(i)).c_str(), "Ann", nullptr), 0);
    EXPECT_TRUE(logged().empty()) << "49 commits: no refresh yet";
    ASSERT_EQ(wikidb_save_page(h, "A", "fiftieth", "Ann", nullptr), 0);
    EXPECT_STREQ(wikidb_last_error(), "");
  }
  const std::vector<std::string> lines = logged();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("-c gc.autoDetach=false -c gc.writeCommitGraph=false gc --auto"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("commit-graph write"), std::string::npos) << lines[1];
  EXPECT_EQ(testutil::sh("ls " + testutil::shq(root_ + "/.git/objects/pack") + " | grep -c '\\.pack$'"),
            "1\n")
      << "gc packed the two packs and the loose objects into one";
  EXPECT_FALSE(testutil::exists(root_ + "/.git/gc.pid"));
  EXPECT_FALSE(testutil::exists(root_ + "/.git/gc.log"));
  EXPECT_EQ(testutil::child_process_count(), 0);

  // A failing gc: the save succeeds and the slot stays empty.
  FakeGit failing(
      "case \"$*\" in *\" gc \"*) echo 'fatal: gc is broken' >&2; exit 128;; esac\n"
      "exec \"$REAL_GIT\" \"$@\"");
  for (int i = 0; i < 50; i++)
    ASSERT_EQ(wikidb_save_page(h, "A", ("y" + std::to_string(i)).c_str(), "Ann", nullptr), 0);
  EXPECT_STREQ(wikidb_last_error(), "");
  wikidb_close(h);
}

}  // namespace
