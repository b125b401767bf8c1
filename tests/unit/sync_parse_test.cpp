// The sync's plain functions: merge-tree's output, the conflict record, and
// the checks that keep names, branches and URLs from becoming options.
#include <gtest/gtest.h>

#include <string>

#include "sync/merge_tree.h"
#include "sync/record.h"
#include "sync/sync.h"

namespace {

const std::string kTree = "aee9e7b8621c622a7b3af5accac3fa30d7b0b7b0";

// A literal's bytes, NULs included, without its terminator.
template <size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

TEST(MergeTreeParse, TreeAndConflictedPathsOnceEach) {
  merge_tree_result r;
  std::string out = kTree + bytes("\0pages/A.wiki\0pages/A.wiki\0pages/b c.wiki\0");
  ASSERT_EQ(parse_merge_tree(out.data(), out.size(), &r), 0);
  EXPECT_EQ(std::string(r.tree), kTree);
  ASSERT_EQ(r.n_paths, 2u);
  EXPECT_STREQ(r.paths[0], "pages/A.wiki");
  EXPECT_STREQ(r.paths[1], "pages/b c.wiki");
  merge_tree_release(&r);

  // Clean: the tree alone. With messages: they end the paths.
  out = kTree + bytes("\0");
  ASSERT_EQ(parse_merge_tree(out.data(), out.size(), &r), 0);
  EXPECT_EQ(r.n_paths, 0u);
  out = kTree + bytes("\0f\0\0" "1\0f\0Auto-merging\0");
  ASSERT_EQ(parse_merge_tree(out.data(), out.size(), &r), 0);
  ASSERT_EQ(r.n_paths, 1u);
  EXPECT_STREQ(r.paths[0], "f");
  merge_tree_release(&r);
}

TEST(MergeTreeParse, RefusesWhatIsNotATree) {
  merge_tree_result r;
  for (std::string bad : {std::string(), std::string("fatal: refusing to merge\n"),
                          kTree.substr(0, 39) + bytes("\0"), kTree /* no NUL */,
                          std::string(40, 'g') + bytes("\0")}) {
    EXPECT_EQ(parse_merge_tree(bad.data(), bad.size(), &r), -1) << bad;
    EXPECT_EQ(r.n_paths, 0u);
  }
  EXPECT_EQ(parse_merge_tree(nullptr, 0, &r), -1);
  // A path cut short (no NUL) is not taken.
  std::string cut = kTree + bytes("\0pages/A.wiki\0pages/B");
  ASSERT_EQ(parse_merge_tree(cut.data(), cut.size(), &r), 0);
  ASSERT_EQ(r.n_paths, 1u);
  merge_tree_release(&r);
}

TEST(ConflictRecord, RoundTripsAndRefusesACutRecord) {
  strbuf b = {};
  ASSERT_EQ(record_append(&b, "pages/A.wiki", "o1", "t1", ""), 0);
  ASSERT_EQ(record_append(&b, "pages/B.wiki", "", "t2", "r2"), 0);
  record_entry *e = nullptr;
  size_t n = 0;
  ASSERT_EQ(record_parse(b.data, b.len, &e, &n), 0);
  ASSERT_EQ(n, 2u);
  EXPECT_STREQ(e[0].path, "pages/A.wiki");
  EXPECT_STREQ(e[0].resolved, "");
  EXPECT_STREQ(e[1].ours, "");
  EXPECT_STREQ(e[1].resolved, "r2");
  free(e);
  for (size_t cut = 1; cut < b.len; cut++) {
    int rc = record_parse(b.data, cut, &e, &n);
    // Only a cut at an entry's end parses, as the entries before it.
    if (rc == 0) {
      EXPECT_EQ(n, 1u) << cut;
      free(e);
    } else {
      EXPECT_EQ(e, nullptr);
    }
  }
  EXPECT_EQ(record_parse(nullptr, 0, &e, &n), 0);
  EXPECT_EQ(n, 0u);
  strbuf_release(&b);
}

TEST(SyncChecks, NamesBranchesAndUrls) {
  for (const char *ok : {"origin", "up-stream_2", "a.b"}) EXPECT_TRUE(sync_name_ok(ok)) << ok;
  const std::string too_long(65, 'a');  // outlives the list below
  for (const char *bad : {"", "-x", ".x", "a/b", "a b", "a:b", too_long.c_str()})
    EXPECT_FALSE(sync_name_ok(bad)) << bad;
  for (const char *ok : {"main", "feature/wiki", "v1.0"}) EXPECT_TRUE(sync_branch_ok(ok)) << ok;
  for (const char *bad : {"", "-f", "a..b", "a b", "a:b", "a~1", "x.lock", "a/", "/a", "a@{1}",
                          "a\nb", "a//b", "a/.b", "a*"})
    EXPECT_FALSE(sync_branch_ok(bad)) << bad;
  for (const char *ok : {"/srv/wiki.git", "file:///srv/wiki.git", "git://h/x", "ssh://u@h/x",
                         "u@h:path", "https://h/x"})
    EXPECT_TRUE(sync_url_ok(ok)) << ok;
  for (const char *bad : {"", "-oProxyCommand=x", "--upload-pack=x", "a\nb", "a\tb"})
    EXPECT_FALSE(sync_url_ok(bad)) << bad;
  for (const char *helper : {"ext::sh -c x", "fd::3", "custom::addr"})
    EXPECT_TRUE(sync_url_runs_helper(helper)) << helper;
  for (const char *plain : {"/srv/a::b", "https://h/a::b", "u@h:a::b", "::x", "file:///x"})
    EXPECT_FALSE(sync_url_runs_helper(plain)) << plain;
}

}  // namespace
