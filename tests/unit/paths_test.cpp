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
  format_author("Bob", out);
  EXPECT_STREQ(out, "Bob <Bob@users.quenlow-wikidb.invalid>");
  ASSERT_TRUE(format_author("Ann<ann@example.org>", out));
  EXPECT_STREQ(out, "Ann <ann@example.org>");
}

TEST(Author, LongNamesAreCutNeverTheAddress) {
  char out[WIKIDB_AUTHOR_CAP];
  // A bare name appears twice; both copies are cut alike and the brackets stay.
  ASSERT_TRUE(format_author(std::string(400, 'n').c_str(), out));
  const std::string bare(out);
  EXPECT_LE(bare.size(), 255u);
  EXPECT_EQ(bare, std::string(111, 'n') + " <" + std::string(111, 'n') + "@users.quenlow-wikidb.invalid>");
  // The name part is cut at a character boundary; the address is whole.
  std::string e;
  for (int i = 0; i < 150; i++) e += "\xc3\xa9";
  ASSERT_TRUE(format_author((e + " <a@example.org>").c_str(), out));
  const std::string named(out);
  EXPECT_LE(named.size(), 255u);
  ASSERT_GE(named.size(), 16u);
  EXPECT_EQ(named.substr(named.size() - 16), " <a@example.org>");
  const std::string name = named.substr(0, named.size() - 16);
  EXPECT_EQ(name.size() % 2, 0u) << "cut inside a two-byte sequence";
  EXPECT_EQ(name, e.substr(0, name.size()));
  EXPECT_GE(name.size(), 236u);
  // An address too long to leave room for a name cannot be recorded.
  EXPECT_FALSE(format_author(("A <" + std::string(260, 'm') + ">").c_str(), out));
}

TEST(Author, MalformedAuthorsAreRefused) {
  char out[WIKIDB_AUTHOR_CAP];
  for (const char *bad : {">odd<", "half <open", "half >shut", "a <b> <c>", "a <b>>", "a <b> c",
                          "<a@example.org>", " . <a@example.org>", "...", "tab\tname",
                          "unit\x1fsep", "new\nline <a@b>", "del\x7f"})
    EXPECT_FALSE(format_author(bad, out)) << bad;
  for (const char *ok : {"J\xc3\xa9r\xc3\xb4me", "x\x80y", "Ann <>", "Alice Admin\\|"})
    EXPECT_TRUE(format_author(ok, out)) << ok;
}
