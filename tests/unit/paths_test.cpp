#include <gtest/gtest.h>

#include <string>

#include "store/author.h"
#include "store/fs.h"
#include "store/paths.h"

#ifdef _WIN32
static constexpr bool kWindows = true;
#else
static constexpr bool kWindows = false;
#endif

// The expected file path in the platform's own separators.
static std::string native(std::string path) {
  for (char &c : path)
    if (c == '/') c = fs_separator();
  return path;
}

TEST(Titles, SafeTitlesAndTheirPaths) {
  page_path p;
  ASSERT_TRUE(page_paths("/w", "Home", &p));
  EXPECT_STREQ(p.repo, "pages/Home.wiki");
  EXPECT_EQ(p.file, native("/w/pages/Home.wiki"));
  ASSERT_TRUE(page_paths("/w", "a\\b/c", &p));
  EXPECT_STREQ(p.repo, "pages/a/b/c.wiki");
  EXPECT_EQ(p.file, native("/w/pages/a/b/c.wiki"));
  for (const char *ok : {"a.b", "..a", ".gitx", "x.git", "git", " lead", "\xc3\xa9"})
    EXPECT_TRUE(title_is_safe(ok)) << ok;
}

TEST(Titles, WindowsNameRulesApplyOnWindowsOnly) {
  // Names Windows would shorten, reserve or cannot store; elsewhere they
  // are ordinary names.
  for (const char *t : {"a..", "...", " spaced ", "d./e", "CON", "x/nul.txt", "a|b", "a:b", "Caf\xe9"}) {
    EXPECT_EQ(title_is_safe(t), !kWindows) << t;
    page_path p;
    EXPECT_EQ(page_paths("/w", t, &p), !kWindows) << t;
  }
}

TEST(Titles, TraversalIsRefused) {
  for (const char *bad : {"", "/abs", "\\abs", "a/", "a\\", "a//b", "a\\\\b", ".", "..", "../x",
                          "a/../b", "a\\..\\b", "a/./b", ".git", ".GIT", ".Git/config",
                          "x/.gIt/y", "../.git/x/T", "x\\.git"}) {
    EXPECT_FALSE(title_is_safe(bad)) << bad;
    page_path p;
    EXPECT_FALSE(page_paths("/w", bad, &p)) << bad;
  }
}

TEST(Titles, PathsThatWouldBeCutAreRefused) {
  page_path p;
  // "pages/" + title + ".wiki" must fit 599 bytes.
  EXPECT_TRUE(page_paths("/w", std::string(588, 'a').c_str(), &p));
  EXPECT_FALSE(page_paths("/w", std::string(589, 'a').c_str(), &p));
  // The file path must fit 1199 bytes even when the repository path fits.
  std::string root(1199 - 1 - 6 - 500 - 5, 'r');  // root "/" "pages/" title ".wiki"
  root[0] = '/';
  EXPECT_TRUE(page_paths(root.c_str(), std::string(500, 'b').c_str(), &p));
  root += "r";
  EXPECT_FALSE(page_paths(root.c_str(), std::string(500, 'b').c_str(), &p));
}

TEST(Author, IdentityForms) {
  char out[WIKIDB_AUTHOR_CAP];
  format_author(nullptr, out);
  EXPECT_STREQ(out, "Wiki User <wiki@quenlow-wikidb.invalid>");
  format_author("", out);
  EXPECT_STREQ(out, "Wiki User <wiki@quenlow-wikidb.invalid>");
  format_author("Ann <ann@example.org>", out);
  EXPECT_STREQ(out, "Ann <ann@example.org>");
  format_author(">odd<", out);
  EXPECT_STREQ(out, ">odd<");
  format_author("Bob", out);
  EXPECT_STREQ(out, "Bob <Bob@users.quenlow-wikidb.invalid>");
  format_author("half <open", out);
  EXPECT_STREQ(out, "half <open <half <open@users.quenlow-wikidb.invalid>");
  format_author(std::string(400, 'n').c_str(), out);
  EXPECT_EQ(std::string(out).size(), 255u);
}
