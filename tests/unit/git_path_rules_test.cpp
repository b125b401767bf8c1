#include <gtest/gtest.h>

#include <string>

#include "store/git_path_rules.h"
#include "store/paths.h"
#include "store/tree_entry.h"

namespace {

bool accepts(const std::string &c) { return git_accepts_component(c.data(), c.size()); }

TEST(GitPathRules, SpellingsOfDotGitAreRefused) {
  for (const char *bad : {".git", ".GIT", ".Git", ".git.", ".git..", ".git ", ".git . .", "git~1",
                          "GIT~1", "Git~1.", "git~1 ", ".git::$INDEX_ALLOCATION", ".git:stream",
                          "git~1:$DATA", "", ".", ".."})
    EXPECT_FALSE(accepts(bad)) << bad;
  // HFS+ ignores these code points when it compares names: U+200C, U+200D,
  // U+200E, U+200F, U+202A..U+202E, U+206A..U+206F, U+FEFF.
  for (const char *bad : {".\xe2\x80\x8cgit", ".g\xe2\x80\x8dit", ".gi\xe2\x80\x8ft",
                          ".git\xe2\x80\xae", "\xef\xbb\xbf.GIT", ".g\xe2\x81\xaaI\xe2\x81\xaft"})
    EXPECT_FALSE(accepts(bad)) << bad;
}

TEST(GitPathRules, NamesThatOnlyLookAlikeAreAccepted) {
  for (const char *ok : {".gitx", ".git.x", ".git x", "x.git", "git", "git~2", "git~10", "git~1x",
                         ".gi", "...", ".g\xe2\x80\x8bit" /* U+200B is not ignored */,
                         ".gi\xc3\xbe", "\xff.git", ".git\xe2\x80", ".gitmodules"})
    EXPECT_TRUE(accepts(ok)) << ok;
}

TEST(GitPathRules, WholePaths) {
  EXPECT_TRUE(git_accepts_path("pages/a/b.wiki"));
  for (const char *bad : {"", "/pages/a.wiki", "pages/", "pages//a.wiki", "pages/a/.git./b.wiki",
                          "pages/GIT~1/x.wiki", "pages/./a.wiki", "pages/../a.wiki"})
    EXPECT_FALSE(git_accepts_path(bad)) << bad;
}

TEST(GitPathRules, TitlesGitWouldRefuseAreRefused) {
  page_path p;
  for (const char *bad : {"a/.git./b", "GIT~1/x", "a/git~1./b", ".git::$INDEX_ALLOCATION/x",
                          "a/.g\xe2\x80\x8cit/b", "x.wiki/y", "a/x.wiki/y", "a\\x.wiki\\y", "a/.wiki/y"})
    EXPECT_FALSE(page_paths("/w", bad, &p)) << bad;
  // The last component gets ".wiki" added, which makes it a name git takes.
  for (const char *ok : {"GIT~1", "x.wiki", "a/x.wik/y", "a/x.wikix/y"})
    EXPECT_TRUE(page_paths("/w", ok, &p)) << ok;
}

TEST(TreeEntry, RecordsOfLsTree) {
  const std::string text = std::string("100644 blob ") + std::string(40, 'a') + "\tpages/a b.wiki" +
                           '\0' + "120000 blob " + std::string(64, 'b') + "\tpages/l.wiki" + '\0';
  size_t pos = 0;
  tree_entry e;
  ASSERT_TRUE(next_tree_entry(text.data(), text.size(), &pos, &e));
  EXPECT_STREQ(e.mode, "100644");
  EXPECT_STREQ(e.type, "blob");
  EXPECT_EQ(std::string(e.hash), std::string(40, 'a'));
  EXPECT_EQ(std::string(e.path, e.path_len), "pages/a b.wiki");
  ASSERT_TRUE(next_tree_entry(text.data(), text.size(), &pos, &e));
  EXPECT_STREQ(e.mode, "120000");
  EXPECT_EQ(std::string(e.hash), std::string(64, 'b'));
  EXPECT_FALSE(next_tree_entry(text.data(), text.size(), &pos, &e));
  // Records of other shapes are not taken for entries.
  for (const std::string &bad : {std::string("100644 blob xyz\tp"), std::string("100644 blob ") +
                                std::string(40, 'a'), std::string("100644blob a\tp"),
                                std::string(" blob a\tp"), std::string("100644 blob a\t"),
                                std::string("100644 blob ") + std::string(80, 'a') + "\tp"}) {
    pos = 0;
    EXPECT_FALSE(next_tree_entry(bad.data(), bad.size(), &pos, &e)) << bad;
  }
  pos = 0;
  EXPECT_FALSE(next_tree_entry(nullptr, 0, &pos, &e));
}

}  // namespace
