#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "frame/strbuf.h"
#include "git/invocations.h"
#include "reports/history.h"
#include "testutil.h"
#include "wiki_fixture.h"

using nlohmann::json;

namespace {

std::vector<std::string> split(const std::string &text, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

using Reports = WikiTest;

TEST_F(Reports, NullHandleGivesTheStaticEmptyArray) {
  const char *a = wikidb_list_pages_json(nullptr, nullptr);
  EXPECT_STREQ(a, "[]");
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  EXPECT_EQ(wikidb_get_history_json(nullptr, "P"), a);
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  EXPECT_EQ(wikidb_get_recent_changes_json(nullptr, 3), a);
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
}

TEST_F(Reports, EmptyWiki) {
  EXPECT_STREQ(wikidb_list_pages_json(h_, nullptr), "[]");
  EXPECT_STREQ(wikidb_get_history_json(h_, nullptr), "[]");  // git log fails: no commit yet
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_recent_changes_json(h_, 0), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
}

TEST_F(Reports, ListAgreesWithGit) {
  save("a", "1");
  save("b/c", "2");
  save("dq\"q", "3");
  save("tab\tt", "4");
  save("caf\xc3\xa9", "5");
  testutil::write_file(page_file("notes.txt"), "not a page");
  testutil::write_file(page_file(".wiki"), "no name");
  testutil::write_file(page_file("uncommitted.wiki"), "listed too");
  json names = json::parse(wikidb_list_pages_json(h_, nullptr));
  std::vector<std::string> expected;
  for (auto &path : split(git("ls-files -z --cached --others --exclude-standard pages/"), '\0')) {
    if (path.size() > 11 && path.compare(path.size() - 5, 5, ".wiki") == 0)
      expected.push_back(path.substr(6, path.size() - 11));
  }
  std::vector<std::string> got = names.get<std::vector<std::string>>();
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(got, (std::vector<std::string>{"a", "b/c", "caf\xc3\xa9", "dq\"q", "tab\tt", "uncommitted"}));

  EXPECT_STREQ(wikidb_list_pages_json(h_, "b"), "[\"b/c\"]");
  EXPECT_STREQ(wikidb_list_pages_json(h_, "zzzzzzzzzzzzzzzzzzz"), "[]");
  EXPECT_STREQ(wikidb_list_pages_json(h_, "b\\"), "[]");  // the prefix is used as given
}

TEST_F(Reports, HistoryAgreesWithGit) {
  save("P", "one", "Ann", "first \"quoted\" caf\xc3\xa9");
  save("Other", "x");
  save("P", "three", "Bob <bob@example.org>", nullptr);
  save("P", "");
  save("P", "seven!!", nullptr, "multi\nline message");
  json h = json::parse(wikidb_get_history_json(h_, "P"));
  EXPECT_STREQ(wikidb_last_error(), "");
  auto lines = split(git("log --format='%H%x1f%an%x1f%ad%x1f%s' --date=iso -- pages/P.wiki"), '\n');
  ASSERT_EQ(h.size(), lines.size());
  ASSERT_EQ(h.size(), 4u);
  for (size_t i = 0; i < h.size(); i++) {
    auto f = split(lines[i], '\x1f');
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(h[i]["hash"], f[0]);
    EXPECT_EQ(h[i]["author"], f[1]);
    EXPECT_EQ(h[i]["date"], f[2]);
    EXPECT_EQ(h[i]["summary"], f[3]);
    EXPECT_EQ(h[i]["size"].get<long long>(), std::stoll(git("cat-file -s " + f[0] + ":pages/P.wiki")));
  }
  EXPECT_EQ(h[0]["size"], 7);
  EXPECT_EQ(h[1]["size"], 0);
  EXPECT_EQ(h[2]["size"], 5);
  EXPECT_EQ(h[3]["size"], 3);
  EXPECT_EQ(h[3]["summary"], "first \"quoted\" caf\xc3\xa9");
  EXPECT_EQ(h[0]["summary"], "multi line message");  // git's subject joins the paragraph
}

TEST_F(Reports, HistoryOfDeletedMissingAndWholeWiki) {
  save("P", "text");
  save("Q", "q");
  ASSERT_EQ(wikidb_delete_page(h_, "P", nullptr, nullptr), 0);
  json h = json::parse(wikidb_get_history_json(h_, "P"));
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0]["summary"], "Delete P");
  EXPECT_EQ(h[0]["size"], 0);
  EXPECT_EQ(h[1]["size"], 4);

  EXPECT_STREQ(wikidb_get_history_json(h_, "Never"), "[]");
  EXPECT_STREQ(wikidb_get_history_json(h_, "../bad"), "[]");

  json all = json::parse(wikidb_get_history_json(h_, ""));
  ASSERT_EQ(all.size(), 3u);
  for (auto &e : all) EXPECT_EQ(e["size"], 0);
  EXPECT_EQ(all[0]["hash"], head());
}

TEST_F(Reports, BatchedSizesEqualTheOneByOneSizes) {
  // Saves, an empty page, a deletion and re-creation, and unusual titles.
  const std::vector<std::string> titles = {"plain", "sp ace", "dq\"q", "nl\nline", "caf\xc3\xa9",
                                           "dir/sub", "back\\slash"};
  for (auto &t : titles) {
    save(t.c_str(), ("v1 " + t).c_str());
    save(t.c_str(), "");
    ASSERT_EQ(wikidb_delete_page(h_, t.c_str(), nullptr, nullptr), 0);
    save(t.c_str(), ("version three of " + t).c_str());
  }
  for (auto &t : titles) {
    const std::string report = wikidb_get_history_json(h_, t.c_str());
    json h = json::parse(report);
    ASSERT_EQ(h.size(), 4u) << t;
    // The same commits, sized one process per commit.
    std::vector<log_entry> entries;
    std::vector<std::string> hashes;
    for (auto &e : h) hashes.push_back(e["hash"]);
    for (auto &hash : hashes) entries.push_back({{hash.data(), hash.size()}, {"", 0}, {"", 0}, {"", 0}});
    std::vector<int64_t> sizes(entries.size());
    std::string repo = "pages/" + t + ".wiki";
    for (auto &c : repo)
      if (c == '\\') c = '/';
    history_sizes_one_by_one(root_.c_str(), entries.data(), entries.size(), repo.c_str(), sizes.data());
    for (size_t i = 0; i < h.size(); i++) EXPECT_EQ(h[i]["size"].get<int64_t>(), sizes[i]) << t << " " << i;
    EXPECT_EQ(sizes[1], 0);
    EXPECT_EQ(sizes[2], 0);
    EXPECT_GT(sizes[0], 0);

    // The whole report rebuilt from git's log with those sizes: the same
    // text, byte for byte.
    char *log = nullptr;
    ASSERT_EQ(git_log_history(root_.c_str(), repo.c_str(), &log), 0);
    log_entry *parsed = nullptr;
    size_t n = parse_history_log(log, &parsed);
    ASSERT_EQ(n, h.size()) << t;
    std::vector<int64_t> slow(n);
    history_sizes_one_by_one(root_.c_str(), parsed, n, repo.c_str(), slow.data());
    strbuf rebuilt = {};
    history_json(parsed, n, slow.data(), &rebuilt);
    EXPECT_EQ(std::string(rebuilt.data, rebuilt.len), report) << t;
    strbuf_release(&rebuilt);
    free(parsed);
    free(log);
  }
}

TEST_F(Reports, TwoCallsReplaceOnlyTheirOwnSlot) {
  save("a", "1");
  const char *list = wikidb_list_pages_json(h_, nullptr);
  const char *hist = wikidb_get_history_json(h_, "a");
  const char *recent = wikidb_get_recent_changes_json(h_, 1);
  const std::string list_copy = list, hist_copy = hist, recent_copy = recent;
  wikidb_get_history_json(h_, "a");
  EXPECT_EQ(std::string(list), list_copy);
  EXPECT_EQ(std::string(recent), recent_copy);
}

TEST_F(Reports, RecentChangesAgreeWithGit) {
  save("a", "1", "Ann");
  save("b", "2", "Bob", "second");
  testutil::write_file(page_file("c.wiki"), "3");
  testutil::write_file(page_file("d.wiki"), "4");
  testutil::write_file(page_file("readme.txt"), "5");
  git("add -A && git -C " + testutil::shq(root_) + " commit -q -m 'two at once'");
  ASSERT_EQ(wikidb_delete_page(h_, "a", nullptr, nullptr), 0);
  json r = json::parse(wikidb_get_recent_changes_json(h_, 0));
  EXPECT_STREQ(wikidb_last_error(), "");
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0]["page"], "a");
  EXPECT_EQ(r[0]["summary"], "Delete a");
  EXPECT_EQ(r[1]["page"], "c");
  EXPECT_EQ(r[2]["page"], "d");
  EXPECT_EQ(r[1]["hash"], r[2]["hash"]);
  EXPECT_EQ(r[3]["author"], "Bob");
  EXPECT_EQ(r[4]["author"], "Ann");
  auto commits = split(git("log --format='%H%x1f%an%x1f%ad%x1f%s' --date=iso"), '\n');
  auto f = split(commits[1], '\x1f');
  EXPECT_EQ(r[1]["hash"], f[0]);
  EXPECT_EQ(r[1]["date"], f[2]);
  EXPECT_EQ(r[1]["summary"], "two at once");

  json one = json::parse(wikidb_get_recent_changes_json(h_, 1));
  EXPECT_EQ(one.size(), 1u);
  json two = json::parse(wikidb_get_recent_changes_json(h_, 2));
  EXPECT_EQ(two.size(), 3u);
  EXPECT_EQ(json::parse(wikidb_get_recent_changes_json(h_, -4)).size(), 5u);
}

TEST_F(Reports, LimitZeroMeansFiftyCommits) {
  for (int i = 0; i < 55; i++) save(("p" + std::to_string(i)).c_str(), "x");
  EXPECT_EQ(json::parse(wikidb_get_recent_changes_json(h_, 0)).size(), 50u);
  EXPECT_EQ(json::parse(wikidb_get_recent_changes_json(h_, -1)).size(), 50u);
  EXPECT_EQ(json::parse(wikidb_get_recent_changes_json(h_, 100)).size(), 55u);
}

TEST_F(Reports, RenamesAndQuotedNamesInRecentChanges) {
  save("a", "some text long enough to be detected as a rename\n");
  git("mv pages/a.wiki pages/b.wiki && git -C " + testutil::shq(root_) + " commit -q -m moved");
  save("dq\"q", "x");
  save("tab\tt", "y");
  json r = json::parse(wikidb_get_recent_changes_json(h_, 3));
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0]["page"], "tab\tt");
  EXPECT_EQ(r[1]["page"], "dq\"q");
  std::vector<std::string> moved = {r[2]["page"], r[3]["page"]};
  std::sort(moved.begin(), moved.end());
  EXPECT_EQ(moved, (std::vector<std::string>{"a", "b"}));
}

TEST_F(Reports, LongAuthorsAndSubjectsAreCut) {
  const std::string author(300, 'A');
  const std::string subject(600, 'S');
  // Committed by git itself: the library cuts identities to 255 bytes.
  testutil::write_file(page_file("p.wiki"), "x");
  git("add pages/p.wiki && git -C " + testutil::shq(root_) + " commit -q -m " + subject +
      " --author=" + testutil::shq(author + " <a@example.org>"));
  json r = json::parse(wikidb_get_recent_changes_json(h_, 1));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["author"], author.substr(0, 255));
  EXPECT_EQ(r[0]["summary"], subject.substr(0, 511));
  // The history carries them whole.
  json h = json::parse(wikidb_get_history_json(h_, "p"));
  EXPECT_EQ(h[0]["summary"], subject);
  EXPECT_EQ(h[0]["author"], author);
}

TEST_F(Reports, GitFailureGivesAnEmptyArrayAndNoMessage) {
  save("a", "1");
  testutil::FakeGit fake("echo 'fatal: broken'; exit 128");
  EXPECT_STREQ(wikidb_list_pages_json(h_, nullptr), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_history_json(h_, "a"), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_recent_changes_json(h_, 5), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
}

}  // namespace
