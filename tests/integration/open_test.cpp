#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "testutil.h"
#include "wiki_fixture.h"
#include "wikidb.h"

using testutil::FakeGit;
using testutil::TempDir;
using testutil::is_dir;

namespace {

std::string config(const std::string &root, const char *key) {
  std::string v = testutil::git(root, std::string("config --local --get ") + key);
  if (!v.empty() && v.back() == '\n') v.pop_back();
  return v;
}

// A fake git that logs its arguments, then runs the real one.
const char *kLoggingGit = "echo \"$*\" >> \"$WIKIDB_TEST_LOG\"; exec \"$REAL_GIT\" \"$@\"";

TEST(Open, FreshRootGetsLayoutRepositoryAndSettings) {
  TempDir tmp;
  const std::string root = tmp / "a/b/wiki";
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr) << wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_TRUE(is_dir(root + "/pages"));
  EXPECT_TRUE(is_dir(root + "/meta"));
  EXPECT_TRUE(is_dir(root + "/.git"));
  EXPECT_EQ(config(root, "user.name"), "Wiki User");
  EXPECT_EQ(config(root, "user.email"), "wiki@quenlow-wikidb.invalid");
  EXPECT_EQ(config(root, "commit.gpgsign"), "false");
  EXPECT_EQ(config(root, "core.autocrlf"), "false");
  EXPECT_EQ(config(root, "core.quotepath"), "false");
  wikidb_close(h);
}

TEST(Open, ReopenRunsNoInitButRewritesTheSettings) {
  TempDir tmp;
  const std::string root = tmp / "wiki", log = tmp / "git.log";
  setenv("WIKIDB_TEST_LOG", log.c_str(), 1);
  {
    FakeGit fake(kLoggingGit);
    wikidb_close(wikidb_open(root.c_str()));
  }
  testutil::git(root, "config core.quotepath true");
  {
    FakeGit fake(kLoggingGit);
    wikidb_handle *h = wikidb_open(root.c_str());
    ASSERT_NE(h, nullptr);
    wikidb_close(h);
  }
  unsetenv("WIKIDB_TEST_LOG");
  const std::string settings =
      "--no-pager -C " + root + " config user.name Wiki User\n" +
      "--no-pager -C " + root + " config user.email wiki@quenlow-wikidb.invalid\n" +
      "--no-pager -C " + root + " config commit.gpgsign false\n" +
      "--no-pager -C " + root + " config core.autocrlf false\n" +
      "--no-pager -C " + root + " config core.quotepath false\n";
  EXPECT_EQ(testutil::read_file(log), "--no-pager -C " + root + " init\n" + settings + settings);
  EXPECT_EQ(config(root, "core.quotepath"), "false");
}

TEST(Open, TrailingSeparatorsAreDropped) {
  TempDir tmp;
  const std::string root = tmp / "wiki";
  const std::string log = tmp / "git.log";
  setenv("WIKIDB_TEST_LOG", log.c_str(), 1);
  {
    FakeGit fake(kLoggingGit);
    wikidb_handle *h = wikidb_open((root + "/\\//").c_str());
    ASSERT_NE(h, nullptr);
    wikidb_close(h);
  }
  unsetenv("WIKIDB_TEST_LOG");
  EXPECT_EQ(testutil::read_file(log).substr(0, root.size() + 20), "--no-pager -C " + root + " init\n");
  EXPECT_TRUE(is_dir(root + "/pages"));
}

TEST(Open, InvalidRootsAreRefused) {
  EXPECT_EQ(wikidb_open(nullptr), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
  EXPECT_EQ(wikidb_open(""), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
  // Only separators: would name the top of the file system.
  EXPECT_EQ(wikidb_open("///"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
  EXPECT_EQ(wikidb_open("\\/"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
}

TEST(Open, OverlongRootIsRefusedNotCut) {
  TempDir tmp;
  // 1024 bytes after the trailing separator is dropped: cutting it to 1023
  // would open a sibling directory.
  std::string root = tmp.path() + "/";
  while (root.size() < 1024) root += 'x';
  EXPECT_EQ(wikidb_open((root + "/").c_str()), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
  EXPECT_FALSE(testutil::exists(root.substr(0, 1023)));
}

TEST(Open, LongRootsKeepTheirDocumentedLimits) {
  TempDir tmp;
  // 1018 bytes: the pages path reaches 1024 bytes and is not made.
  std::string root = tmp.path() + "/";
  // mkdir needs each component under NAME_MAX: build it in pieces.
  while (root.size() < 1018) root += (root.size() % 200 == 0) ? '/' : 'd';
  root.resize(1018);
  if (root.back() == '/') root.back() = 'e';
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr) << wikidb_last_error();
  EXPECT_TRUE(is_dir(root + "/.git"));
  EXPECT_FALSE(is_dir(root + "/pages"));
  EXPECT_TRUE(is_dir(root + "/meta"));
  wikidb_close(h);
}

TEST(Open, GitFailures) {
  TempDir tmp;
  const std::string root = tmp / "wiki";
  {
    testutil::NoGit none;
    EXPECT_EQ(wikidb_open(root.c_str()), nullptr);
    EXPECT_STREQ(wikidb_last_error(), "CreateProcessA for git failed: 2");
  }
  {
    FakeGit fake("echo 'fatal: cannot init'; exit 128");
    EXPECT_EQ(wikidb_open(root.c_str()), nullptr);
    EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 128): fatal: cannot init\n");
  }
  wikidb_close(wikidb_open(root.c_str()));
  {
    // With the repository in place, a failed setting does not fail the open.
    testutil::NoGit none;
    wikidb_handle *h = wikidb_open(root.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(wikidb_last_error(), "CreateProcessA for git failed: 2");
    wikidb_close(h);
  }
}

TEST(Close, NullIsIgnoredAndTheSlotUntouched) {
  wikidb_open(nullptr);
  wikidb_close(nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
}

// Bytes the C library's allocator has handed out and not had back.
size_t heap_in_use() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST_F(WikiTest, CloseFreesEveryResult) {
  {
    // Under a sanitizer or valgrind another allocator answers, which these
    // counters do not see; their own leak checkers cover this case there.
    const size_t before = heap_in_use();
    void *volatile probe = malloc(1 << 16);  // volatile: the pair is not optimised away
    const size_t with = heap_in_use();
    free(probe);
    if (with < before + (1 << 16)) GTEST_SKIP() << "the heap's use cannot be read with mallinfo2 here";
  }
  // Every result at least about a kilobyte, so that one slot left behind
  // in each round shows plainly.
  const std::string long_text(2000, 't'), summary(900, 's');
  for (int i = 0; i < 12; i++) {
    std::string title = "Page-" + std::to_string(i) + "-" + std::string(80, 'n');
    save(title.c_str(), (long_text + std::to_string(i)).c_str(), "Ann", summary.c_str());
  }
  save("P", long_text.c_str(), "Ann", summary.c_str());
  save("P", (long_text + "\nmore\n").c_str(), "Ann", summary.c_str());
  const std::string older = head() + "~1";
  auto round = [&] {
    wikidb_handle *h = wikidb_open(root_.c_str());
    ASSERT_NE(h, nullptr) << wikidb_last_error();
    ASSERT_NE(wikidb_get_page(h, "P"), nullptr);
    ASSERT_NE(wikidb_get_revision(h, "P", older.c_str()), nullptr);
    ASSERT_GT(strlen(wikidb_get_diff(h, "P", older.c_str(), "HEAD")), 100u);
    ASSERT_GT(strlen(wikidb_list_pages_json(h, nullptr)), 1000u);
    ASSERT_GT(strlen(wikidb_get_history_json(h, "P")), 1000u);
    ASSERT_GT(strlen(wikidb_get_recent_changes_json(h, 5)), 1000u);
    wikidb_close(h);
  };
  // Warm-up: the C library's one-time blocks and the allocator's caches
  // settle within the first rounds (about eight here); a leak never does.
  size_t last = 0;
  for (int i = 0, steady = 0; i < 40 && steady < 3; i++) {
    round();
    steady = heap_in_use() == last ? steady + 1 : 0;
    last = heap_in_use();
  }
  const size_t start = heap_in_use();
  enum { ROUNDS = 10 };
  for (int i = 0; i < ROUNDS; i++) round();
  const long long grown = (long long)heap_in_use() - (long long)start;
  // A slot not freed would keep a kilobyte or more each round.
  EXPECT_LT(grown, 4096) << "the heap grew by " << grown << " bytes over " << ROUNDS << " rounds";
}

}  // namespace
