// Every exported function driven through the public header only, with the
// same expectations on every platform: this program runs against the Linux
// build and, under wine, against the Windows DLL at two code pages. Where a
// platform must differ (the names Windows cannot hold, case-blind volumes)
// the test says which way and why.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host_env.h"
#include "wikidb.h"

using nlohmann::json;

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// UTF-8 throughout: a title with a directory, an author and a message none
// of which fit a single-byte code page.
const char kTitle[] = "Caf\xc3\xa9/Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9""e \xe2\x9c\x93";
const char kText1[] = "\xc5\x92ufs, sucre \xe2\x9c\x93\n";  // 15 bytes
const char kText2[] = "\xc5\x92ufs, sucre, cr\xc3\xa8me \xe2\x9c\x93\nZweite Zeile: \xc3\xa4\xc3\xb6\xc3\xbc\n";
const char kAuthor[] = "Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m <zoe@example.org>";
const char kAuthorName[] = "Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m";
const char kMessage[] = "Premi\xc3\xa8re version \xe2\x9c\x93 \xe6\x97\xa5\xe6\x9c\xac";

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // A root with blanks and non-ASCII letters: the command line, the
    // environment and the file services must all carry it unchanged.
    root_ = tmp_ / "wiki \xc3\xa9t\xc3\xa9 \xe2\x9c\x93";
    h_ = wikidb_open(root_.c_str());
    ASSERT_NE(h_, nullptr) << wikidb_last_error();
  }
  void TearDown() override { wikidb_close(h_); }

  void save(const char *title, const char *text, const char *author = nullptr,
            const char *message = nullptr) {
    ASSERT_EQ(wikidb_save_page(h_, title, text, author, message), 0) << title << ": " << wikidb_last_error();
  }
  json history(const char *title) {
    const char *r = wikidb_get_history_json(h_, title);
    EXPECT_NE(r, nullptr);
    return json::parse(r ? r : "null");
  }
  json pages(const char *prefix = nullptr) { return json::parse(wikidb_list_pages_json(h_, prefix)); }
  json recent(int limit) { return json::parse(wikidb_get_recent_changes_json(h_, limit)); }
  std::string page(const char *title) {
    const char *t = wikidb_get_page(h_, title);
    return t ? t : "<none>";
  }
  std::string pages_dir() const { return root_ + "/pages"; }

  host::TempDir tmp_;
  std::string root_;
  wikidb_handle *h_ = nullptr;
};

TEST(Frame, VersionAndArgumentErrors) {
  EXPECT_STREQ(wikidb_version(), WIKIDB_VERSION_TEXT);
  EXPECT_EQ(wikidb_open(nullptr), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid wiki_root parameter");
  EXPECT_EQ(wikidb_save_page(nullptr, "x", "y", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  EXPECT_STREQ(wikidb_list_pages_json(nullptr, nullptr), "[]");
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  wikidb_close(nullptr);
}

TEST(Platform, CodePageIsTheOneAskedFor) {
  const char *want = getenv("WIKIDB_EXPECT_ACP");
  if (!kWindows || !want) GTEST_SKIP() << "only for Windows runs that name the code page they set up";
  // A run meant for one code page that silently got another proves nothing.
  EXPECT_EQ(host::ansi_code_page(), (unsigned)strtoul(want, nullptr, 10));
}

TEST_F(EndToEnd, Utf8TitleTextAuthorAndMessageRoundTrip) {
  save(kTitle, kText1, kAuthor, kMessage);
  EXPECT_EQ(page(kTitle), kText1);
  EXPECT_EQ(host::read_file(pages_dir() + "/" + kTitle + ".wiki"), kText1);

  save(kTitle, kText2, "J\xc3\xbcrgen");
  EXPECT_EQ(page(kTitle), kText2);

  json hist = history(kTitle);
  ASSERT_EQ(hist.size(), 2u) << hist.dump();
  EXPECT_EQ(hist[0]["author"], "J\xc3\xbcrgen");
  EXPECT_EQ(hist[0]["summary"], std::string("Update ") + kTitle);
  EXPECT_EQ(hist[0]["size"], strlen(kText2));
  EXPECT_EQ(hist[1]["author"], kAuthorName);
  EXPECT_EQ(hist[1]["summary"], kMessage);
  EXPECT_EQ(hist[1]["size"], strlen(kText1));
  EXPECT_EQ(hist[0]["hash"].get<std::string>().size(), 40u);

  save("Home", "Welcome\n");
  EXPECT_EQ(pages(), json::parse(std::string("[\"Caf\xc3\xa9/Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9""e \xe2\x9c\x93\",\"Home\"]")));
  EXPECT_EQ(pages("Caf\xc3\xa9"), json::array({kTitle}));
  EXPECT_EQ(pages("caf"), json::array());

  json feed = recent(2);
  ASSERT_EQ(feed.size(), 2u) << feed.dump();
  EXPECT_EQ(feed[0]["page"], "Home");
  EXPECT_EQ(feed[1]["page"], kTitle);
  EXPECT_EQ(feed[1]["author"], "J\xc3\xbcrgen");
  EXPECT_EQ(recent(0).size(), 3u);
  EXPECT_EQ(history(nullptr).size(), 3u);
}

TEST_F(EndToEnd, RevisionsDiffAndRollback) {
  save(kTitle, kText1, kAuthor, kMessage);
  save(kTitle, kText2, kAuthor);
  json hist = history(kTitle);
  ASSERT_EQ(hist.size(), 2u);
  const std::string old_hash = hist[1]["hash"], new_hash = hist[0]["hash"];

  const char *rev = wikidb_get_revision(h_, kTitle, old_hash.c_str());
  ASSERT_NE(rev, nullptr) << wikidb_last_error();
  EXPECT_STREQ(rev, kText1);
  EXPECT_EQ(wikidb_get_revision(h_, kTitle, "-p"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");

  const std::string diff = wikidb_get_diff(h_, kTitle, old_hash.c_str(), new_hash.c_str());
  EXPECT_NE(diff.find(std::string("-") + kText1), std::string::npos) << diff;
  EXPECT_NE(diff.find("+Zweite Zeile: \xc3\xa4\xc3\xb6\xc3\xbc\n"), std::string::npos) << diff;
  EXPECT_NE(diff.find(std::string("+++ b/pages/") + kTitle + ".wiki"), std::string::npos) << diff;
  // git's complaint about an unknown revision is the answer, with no error.
  const std::string unknown = wikidb_get_diff(h_, kTitle, "0000000", new_hash.c_str());
  EXPECT_NE(unknown.find("0000000"), std::string::npos) << unknown;
  EXPECT_STREQ(wikidb_last_error(), "");

  ASSERT_EQ(wikidb_rollback(h_, kTitle, old_hash.c_str(), "R\xc3\xb6ll Back"), 0) << wikidb_last_error();
  EXPECT_EQ(page(kTitle), kText1);
  hist = history(kTitle);
  ASSERT_EQ(hist.size(), 3u);
  EXPECT_EQ(hist[0]["summary"], std::string("Rollback ") + kTitle + " to " + old_hash);
  EXPECT_EQ(hist[0]["author"], "R\xc3\xb6ll Back");
  EXPECT_EQ(hist[0]["size"], strlen(kText1));
}

TEST_F(EndToEnd, DeleteCommitsTheRemoval) {
  save(kTitle, kText1);
  save("Keep", "k");
  ASSERT_EQ(wikidb_delete_page(h_, kTitle, kAuthor, nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(wikidb_get_page(h_, kTitle), nullptr);
  EXPECT_EQ(wikidb_last_error(), std::string("Page not found: ") + kTitle);
  EXPECT_EQ(pages(), json::array({"Keep"}));
  json hist = history(kTitle);
  ASSERT_EQ(hist.size(), 2u);
  EXPECT_EQ(hist[0]["summary"], std::string("Delete ") + kTitle);
  EXPECT_EQ(hist[0]["size"], 0);
  EXPECT_EQ(hist[1]["size"], strlen(kText1));
  // A page that never existed: nothing to commit, still success.
  EXPECT_EQ(wikidb_delete_page(h_, "Never", nullptr, nullptr), 0) << wikidb_last_error();
}

TEST_F(EndToEnd, OpenWritesAMissingCommitGraph) {
  // The graph policy reads git's own files under the root, whose name is
  // not ASCII here.
  save("Home", "x");
  wikidb_close(h_);
  const std::string info = root_ + "/.git/objects/info";
  host::remove_all(info + "/commit-graph");
  host::remove_all(info + "/commit-graphs");
  h_ = wikidb_open(root_.c_str());
  ASSERT_NE(h_, nullptr) << wikidb_last_error();
  EXPECT_TRUE(host::exists(info + "/commit-graph") || host::exists(info + "/commit-graphs/commit-graph-chain"))
      << host::list_dir(info);
}

TEST_F(EndToEnd, AwkwardArgumentsArriveByteExact) {
  // Blanks, quotes, backslash runs before quotes and at the end, and what a
  // Windows shell would expand or redirect: none of it may change.
  const std::vector<std::string> messages = {
      "two  blanks\tand a tab", "say \"hi\" and \\\"quoted\\\"", "C:\\path\\ends\\",
      "ends in three \\\\\\", "%PATH% and %%", "^&|<> $(x) `y`", "'single' \"\"", "\\\\server\\share",
  };
  for (size_t i = 0; i < messages.size(); i++) {
    const std::string text = "v" + std::to_string(i) + "\r\nline\\\r\n";
    save("Args page/sub", text.c_str(), "Ann \"the\" \\ Coder <ann@example.org>", messages[i].c_str());
  }
  json hist = history("Args page\\sub");
  ASSERT_EQ(hist.size(), messages.size());
  for (size_t i = 0; i < messages.size(); i++) {
    const json &entry = hist[messages.size() - 1 - i];
    EXPECT_EQ(entry["summary"], messages[i].substr(0, messages[i].find('\n')));
    EXPECT_EQ(entry["author"], "Ann \"the\" \\ Coder");
    EXPECT_EQ(entry["size"], 11u);
  }
  // Bytes are stored as given: CR LF stays.
  EXPECT_EQ(page("Args page/sub"), "v7\r\nline\\\r\n");
  EXPECT_EQ(pages("Args"), json::array({"Args page/sub"}));
}

TEST_F(EndToEnd, HostEnvironmentCannotRedirectGit) {
  save("Home", "one\n");
  // Each of these would send git to another repository or index if it
  // reached git; the library leaves them out of git's environment.
  const std::string elsewhere = tmp_ / "elsewhere";
  const char *vars[] = {"GIT_DIR", "GIT_WORK_TREE", "GIT_INDEX_FILE", "GIT_OBJECT_DIRECTORY", "GIT_GLOB_PATHSPECS"};
  for (const char *v : vars) host::set_env(v, v[4] == 'G' ? "1" : elsewhere.c_str());
  save("Home", "two\n");
  save("[H]ome", "glob\n");
  const json hist = history("Home");
  const json list = pages();
  for (const char *v : vars) host::set_env(v, nullptr);
  ASSERT_EQ(hist.size(), 2u) << hist.dump();
  EXPECT_EQ(hist[0]["size"], 4);
  EXPECT_EQ(list, json::array({"Home", "[H]ome"}));
  EXPECT_FALSE(host::exists(elsewhere));
}

TEST_F(EndToEnd, NamesWindowsCannotHold) {
  const std::vector<std::string> titles = {"d./e", "dot.", "blank ", "CON", "nul", "aux/x", "Com1",
                                           "LPT1.txt", "a\"b", "a*b", "a?b", "a<b", "a>b", "a|b", "tab\tx"};
  save("Home", "h");
  const std::string before = host::list_dir(pages_dir());
  for (const std::string &t : titles) {
    const int rc = wikidb_save_page(h_, t.c_str(), "x", nullptr, nullptr);
    if (kWindows) {
      // Refused before anything is written: the name would alias another
      // file ("d." is "d"), open a device, or cannot be made at all.
      EXPECT_EQ(rc, -1) << t;
      EXPECT_STREQ(wikidb_last_error(), "Invalid title") << t;
      EXPECT_EQ(wikidb_get_page(h_, t.c_str()), nullptr) << t;
      EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_page") << t;
      EXPECT_EQ(wikidb_delete_page(h_, t.c_str(), nullptr, nullptr), -1) << t;
      EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page") << t;
    } else {
      // Every byte but '/' can be a name here: these are ordinary pages.
      EXPECT_EQ(rc, 0) << t << ": " << wikidb_last_error();
      EXPECT_EQ(page(t.c_str()), "x") << t;
    }
  }
  if (kWindows) {
    EXPECT_EQ(host::list_dir(pages_dir()), before);
    EXPECT_EQ(pages(), json::array({"Home"}));
    EXPECT_EQ(history(nullptr).size(), 1u);
  } else {
    EXPECT_EQ(pages().size(), titles.size() + 1);
  }
}

TEST_F(EndToEnd, TitlesThatAreNotUtf8) {
  const char latin1[] = "Caf\xe9";
  const int rc = wikidb_save_page(h_, latin1, "x", nullptr, nullptr);
  if (kWindows) {
    // No UTF-16 name stands for these bytes: refused, nothing written.
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid title");
    EXPECT_EQ(wikidb_get_history_json(h_, latin1), std::string("[]"));
    EXPECT_EQ(host::list_dir(pages_dir()), "");
  } else {
    // Names are bytes here; the page is stored under exactly these.
    EXPECT_EQ(rc, 0) << wikidb_last_error();
    EXPECT_EQ(page(latin1), "x");
  }
}

TEST_F(EndToEnd, TitlesDifferingOnlyInLetterCase) {
  save("Home", "the real home\n");
  save("Dir/a", "a\n");
  const bool blind = host::case_blind(pages_dir());
  if (kWindows) {
    EXPECT_TRUE(blind) << "Windows volumes (and wine's view of Linux ones) ignore case";
  }
  if (!blind) {
    // Two names, two pages.
    save("HOME", "another page\n");
    save("dir/b", "b\n");
    EXPECT_EQ(page("Home"), "the real home\n");
    EXPECT_EQ(pages(), json::array({"Dir/a", "HOME", "Home", "dir/b"}));
    return;
  }
  // One file answers to both names: writing through it would change, or
  // remove, the other page.
  EXPECT_EQ(wikidb_save_page(h_, "HOME", "overwritten?\n", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Title collides with existing page: Home");
  EXPECT_EQ(wikidb_save_page(h_, "dir/b", "b\n", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Title collides with existing page: Dir");
  EXPECT_EQ(wikidb_delete_page(h_, "home", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Title collides with existing page: Home");
  const std::string first = history("Home")[0]["hash"];
  EXPECT_EQ(wikidb_rollback(h_, "HoMe", first.c_str(), nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Title collides with existing page: Home");
  EXPECT_EQ(wikidb_get_page(h_, "HOME"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: HOME");
  EXPECT_EQ(page("Home"), "the real home\n");
  EXPECT_EQ(pages(), json::array({"Dir/a", "Home"}));
  EXPECT_EQ(history(nullptr).size(), 2u);
}

TEST_F(EndToEnd, DirectoryLinkBelowTheRootIsNotFollowed) {
  const std::string outside = tmp_ / "outside";
  host::make_dirs(outside);
  host::write_file(outside + "/secret.wiki", "secret\n");
  std::string why;
  if (!host::make_link(outside, pages_dir() + "/link", true, &why))
    GTEST_SKIP() << "no directory link could be made here: " << why;
  if (!host::reported_as_link(pages_dir() + "/link"))
    GTEST_SKIP() << "the system does not report the directory link as a link";
  EXPECT_EQ(wikidb_get_page(h_, "link/secret"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: link/secret");
  EXPECT_EQ(wikidb_save_page(h_, "link/new", "x", nullptr, nullptr), -1);
  EXPECT_EQ(host::list_dir(outside), "secret.wiki\n");
  EXPECT_EQ(host::read_file(outside + "/secret.wiki"), "secret\n");
}

TEST_F(EndToEnd, FileLinkInAPagePlaceIsNotFollowed) {
  const std::string outside = tmp_ / "outside.txt";
  host::write_file(outside, "secret\n");
  std::string why;
  if (!host::make_link(outside, pages_dir() + "/flink.wiki", false, &why))
    GTEST_SKIP() << "no file link could be made here: " << why;
  // wine shows a Linux file link as a plain file, and what it cannot see it
  // cannot refuse; the library's check is for links the system reports.
  if (!host::reported_as_link(pages_dir() + "/flink.wiki"))
    GTEST_SKIP() << "the system reports the file link as a plain file (wine does)";
  EXPECT_EQ(wikidb_get_page(h_, "flink"), nullptr);
  EXPECT_EQ(wikidb_save_page(h_, "flink", "changed\n", nullptr, nullptr), -1);
  EXPECT_EQ(host::read_file(outside), "secret\n");
  EXPECT_TRUE(host::reported_as_link(pages_dir() + "/flink.wiki"));
}

}  // namespace
