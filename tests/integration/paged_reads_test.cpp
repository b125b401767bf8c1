// The paged reads against real git: histories and their cursors, renames,
// recent changes, search, deleted pages and blame.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "testutil.h"
#include "wiki_fixture.h"

using nlohmann::json;
using testutil::git_argv;

namespace {

class Reads : public WikiTest {
 protected:
  // A commit made with plain git: rename a page (optionally rewriting it)
  // with the rename line the write API records.
  void rename_by_hand(const std::string &from, const std::string &to, const std::string &text,
                      const std::string &message_extra = "") {
    git_argv(root_, {"mv", "pages/" + from + ".wiki", "pages/" + to + ".wiki"});
    if (!text.empty()) testutil::write_file(page_file(to + ".wiki"), text);
    git_argv(root_, {"add", "-A"});
    commit_by_hand("Rename " + from + "\n\nWikidb-Rename: " + json(from).dump() + " -> " +
                   json(to).dump() + "\n" + message_extra);
  }
  void commit_by_hand(const std::string &message, const std::string &author = "Hand <hand@x>") {
    int status = 0;
    git_argv(root_, {"commit", "-q", "--author", author, "-m", message}, &status);
    ASSERT_EQ(status, 0);
  }
  json history(const char *title, const std::string &cursor = "", int limit = 0,
               const char *author = nullptr, const char *since = nullptr,
               const char *until = nullptr, int flags = WIKIDB_FOLLOW) {
    const char *j = wikidb_history_page_json(h_, title, cursor.empty() ? nullptr : cursor.c_str(),
                                             limit, author, since, until, flags);
    if (!j) {
      ADD_FAILURE() << wikidb_last_error();
      return json::object({{"entries", json::array()}, {"next", nullptr}});
    }
    return json::parse(j);
  }
  // Every entry, page after page.
  std::vector<json> all_pages(const char *title, int limit, int flags = WIKIDB_FOLLOW,
                              const char *author = nullptr) {
    std::vector<json> out;
    std::string cursor;
    for (int guard = 0; guard < 1000; guard++) {
      json page = history(title, cursor, limit, author, nullptr, nullptr, flags);
      EXPECT_LE(page["entries"].size(), (size_t)limit);
      for (auto &e : page["entries"]) out.push_back(e);
      if (page["next"].is_null()) break;
      cursor = page["next"].get<std::string>();
    }
    return out;
  }
  static std::vector<std::string> hashes(const std::vector<json> &entries) {
    std::vector<std::string> out;
    for (auto &e : entries) out.push_back(e["hash"]);
    return out;
  }
  std::vector<std::string> git_hashes(const std::string &args) {
    std::vector<std::string> out;
    std::string text = git("log --format=%H " + args), line;
    for (char c : text) {
      if (c == '\n') {
        out.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return out;
  }
  json search(const std::string &q, int limit = 0, int flags = 0) {
    const char *j = wikidb_search_json(h_, q.c_str(), limit, flags);
    if (!j) {
      ADD_FAILURE() << q << ": " << wikidb_last_error();
      return json::object({{"hits", json::array()}, {"truncated", false}});
    }
    return json::parse(j);
  }
  static std::vector<std::string> pages_of(const json &result) {
    std::vector<std::string> out;
    for (auto &hit : result["hits"]) out.push_back(hit["page"]);
    return out;
  }
};

TEST_F(Reads, PagesJoinIntoTheWholeHistoryWithTheReportFields) {
  for (int i = 0; i < 7; i++) save("P", std::string(i + 1, 'x').c_str(), "Ann <ann@example.org>");
  save("Other", "o");
  json old = json::parse(wikidb_get_history_json(h_, "P"));
  for (int limit : {1, 2, 3, 7, 50}) {
    std::vector<json> all = all_pages("P", limit);
    ASSERT_EQ(all.size(), old.size()) << limit;
    for (size_t i = 0; i < all.size(); i++) {
      EXPECT_EQ(all[i]["hash"], old[i]["hash"]);
      EXPECT_EQ(all[i]["date"], old[i]["date"]);
      EXPECT_EQ(all[i]["size"], old[i]["size"]);
      EXPECT_EQ(all[i]["summary"], old[i]["summary"]);
      EXPECT_EQ(all[i]["author"], "Ann");
      EXPECT_EQ(all[i]["email"], "ann@example.org");
      EXPECT_EQ(all[i]["page"], "P");
      std::string at = git("log -1 --format=%at " + all[i]["hash"].get<std::string>());
      EXPECT_EQ(all[i]["timestamp"].get<long long>(), std::stoll(at));
    }
  }
  // Exactly full: no cursor to an empty page.
  EXPECT_TRUE(history("P", "", 7)["next"].is_null());
  EXPECT_FALSE(history("P", "", 6)["next"].is_null());
  // The whole wiki: every commit, with the pages it changed.
  std::vector<json> wiki = all_pages(nullptr, 3, 0);
  EXPECT_EQ(hashes(wiki), git_hashes("HEAD"));
  EXPECT_EQ(wiki[0]["pages"], json::parse(R"([{"page":"Other","kind":"added"}])"));
  EXPECT_EQ(wiki[1]["pages"], json::parse(R"([{"page":"P","kind":"modified"}])"));
  EXPECT_EQ(wiki.back()["pages"], json::parse(R"([{"page":"P","kind":"added"}])"));
}

TEST_F(Reads, CursorIsPinnedWhileCommitsArrive) {
  for (int i = 0; i < 6; i++) save("P", std::to_string(i).c_str());
  std::vector<std::string> before = git_hashes("HEAD -- pages/P.wiki");
  json first = history("P", "", 2);
  json wiki_first = history(nullptr, "", 2, nullptr, nullptr, nullptr, 0);
  json recent_first = json::parse(wikidb_recent_page_json(h_, nullptr, 2, nullptr, nullptr));
  for (int i = 0; i < 3; i++) save("P", ("new " + std::to_string(i)).c_str());
  std::vector<std::string> got = hashes(first["entries"]);
  std::string cursor = first["next"];
  while (!cursor.empty()) {
    json page = history("P", cursor, 2);
    for (auto &e : page["entries"]) got.push_back(e["hash"]);
    cursor = page["next"].is_null() ? "" : page["next"].get<std::string>();
  }
  EXPECT_EQ(got, before);
  json wiki_second = history(nullptr, wiki_first["next"], 2, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(wiki_second["entries"][0]["hash"], before[2]);
  json recent_second = json::parse(
      wikidb_recent_page_json(h_, recent_first["next"].get<std::string>().c_str(), 2, nullptr, nullptr));
  EXPECT_EQ(recent_second["entries"][0]["hash"], before[2]);
}

TEST_F(Reads, PagingIsExactAcrossMerges) {
  save("P", "base\n");
  save("Q", "q\n");
  git("checkout -q -b side");
  for (int i = 0; i < 3; i++) {
    testutil::write_file(page_file("P.wiki"), "side " + std::to_string(i) + "\n");
    git("commit -qam side" + std::to_string(i));
  }
  git("checkout -q -");
  for (int i = 0; i < 3; i++) {
    testutil::write_file(page_file("Q.wiki"), "main " + std::to_string(i) + "\n");
    testutil::write_file(page_file("P.wiki"), "side 2\n" + std::to_string(i));
    git("commit -qam main" + std::to_string(i));
  }
  int status = 0;
  git("merge -q --no-ff -X theirs -m merge side", &status);
  ASSERT_EQ(status, 0);
  save("P", "after\n");
  // The pages join into exactly one walk of git's: the one that also
  // names each commit's parents in the page's history, which may order
  // commits of the same second otherwise than a plain log. Both sides of
  // the merge are walked, although the merge kept the side's text of P.
  for (int limit : {1, 2, 4}) {
    EXPECT_EQ(hashes(all_pages("P", limit)),
              git_hashes("--parents --full-history --simplify-merges HEAD -- pages/P.wiki"))
        << limit;
    EXPECT_EQ(hashes(all_pages(nullptr, limit, 0)),
              git_hashes("--parents --full-history HEAD -- pages/"))
        << limit;
  }
  std::vector<std::string> p_edits = hashes(all_pages("P", 3));
  for (auto &h : git_hashes("--no-merges --full-history HEAD -- pages/P.wiki"))
    EXPECT_NE(std::find(p_edits.begin(), p_edits.end(), h), p_edits.end()) << h;
  EXPECT_EQ(git_hashes("--no-merges --full-history HEAD -- pages/P.wiki").size(), 8u);
  // With a filter, the same for a plain log.
  std::vector<json> filtered = all_pages("P", 2, WIKIDB_FOLLOW, "@");
  EXPECT_EQ(hashes(filtered), git_hashes("--author=@ --full-history HEAD -- pages/P.wiki"));
}

TEST_F(Reads, FollowsRecordedRenamesEvenWithARewrite) {
  save("Old", "one\n");
  save("Old", "one\ntwo\n");
  save("Else", "x");
  rename_by_hand("Old", "New", "entirely different text\n");
  save("New", "entirely different text\nmore\n");
  std::vector<json> all = all_pages("New", 2);
  std::vector<std::string> expected = git_hashes("HEAD -- pages/New.wiki");
  ASSERT_EQ(expected.size(), 2u);
  for (auto &h : git_hashes("HEAD~2 -- pages/Old.wiki")) expected.push_back(h);
  EXPECT_EQ(hashes(all), expected);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1]["page"], "New");
  EXPECT_EQ(all[1]["renamed_from"], "Old");
  EXPECT_EQ(all[2]["page"], "Old");
  EXPECT_EQ(all[2]["size"], 8);
  EXPECT_FALSE(all[0].contains("renamed_from"));
  // Without the flag the history ends at the rename.
  EXPECT_EQ(all_pages("New", 10, 0).size(), 2u);
  // With a filter that leaves out the rename commit itself (another
  // author), the old title's history still follows.
  std::vector<json> mine = all_pages("New", 1, WIKIDB_FOLLOW, "wiki user");
  EXPECT_EQ(hashes(mine), (std::vector<std::string>{expected[0], expected[2], expected[3]}));
}

TEST_F(Reads, FollowsChainedRenamesAndTitlesThatNeedEscapes) {
  const std::string odd = "Dir/Caf\xc3\xa9 \"q\"\ttab";
  save(odd.c_str(), "1\n");
  rename_by_hand(odd, "Mid", "");
  save("Mid", "2\n");
  rename_by_hand("Mid", "Last", "");
  std::vector<json> all = all_pages("Last", 50);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0]["renamed_from"], "Mid");
  EXPECT_EQ(all[2]["renamed_from"], odd);
  EXPECT_EQ(all[3]["page"], odd);
}

TEST_F(Reads, ARenameLineWithoutARenameIsNotFollowed) {
  save("Decoy", "d\n");
  save("Page", "p\n");
  // A host may write any message: a line that claims a rename the commit
  // did not make leads nowhere.
  save("Page", "p2\n", nullptr, "Edit\n\nWikidb-Rename: \"Decoy\" -> \"Page\"");
  std::vector<json> all = all_pages("Page", 10);
  EXPECT_EQ(hashes(all), git_hashes("HEAD -- pages/Page.wiki"));
}

TEST_F(Reads, FiltersRunInGitAndNeverBecomeOptions) {
  save("P", "1", "Ann <ann@example.org>");
  save("P", "2", "Bob <bob@example.org>");
  save("P", "3", "Ann <ann@example.org>");
  EXPECT_EQ(all_pages("P", 10, WIKIDB_FOLLOW, "ANN").size(), 2u);
  EXPECT_EQ(all_pages("P", 10, WIKIDB_FOLLOW, "bob@example").size(), 1u);
  EXPECT_EQ(all_pages("P", 10, WIKIDB_FOLLOW, "[A]nn").size(), 0u);  // literal, not a pattern
  EXPECT_EQ(all_pages("P", 10, WIKIDB_FOLLOW, "--output=/tmp/x").size(), 0u);
  EXPECT_FALSE(testutil::exists(root_ + "/--output=x"));
  // Dates: all commits are from now.
  EXPECT_EQ(history("P", "", 10, nullptr, "2000-01-01")["entries"].size(), 3u);
  EXPECT_EQ(history("P", "", 10, nullptr, nullptr, "2000-01-01T00:00:00Z")["entries"].size(), 0u);
  EXPECT_EQ(history("P", "", 10, nullptr, "2099-12-31")["entries"].size(), 0u);
  EXPECT_EQ(history(nullptr, "", 10, nullptr, nullptr, "86400", 0)["entries"].size(), 0u);
  json r = json::parse(wikidb_recent_page_json(h_, nullptr, 10, "bob", "1999-12-31 23:00 +0100"));
  EXPECT_EQ(r["entries"].size(), 1u);
  for (const char *bad : {"yesterday", "2026-13-01", "2026-02-30", "--since", "1969-12-31",
                          "2026-01-01 25:00", "2026-01-01X", "2100-01-01", "@4102444800"}) {
    EXPECT_EQ(wikidb_history_page_json(h_, "P", nullptr, 0, nullptr, bad, nullptr, 0), nullptr) << bad;
    EXPECT_EQ(std::string(wikidb_last_error()), std::string("Invalid date: ") + bad);
  }
  EXPECT_EQ(wikidb_history_page_json(h_, "P", nullptr, 0, "a\nb", nullptr, nullptr, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid author filter");
}

TEST_F(Reads, FailuresAreErrorsNotContent) {
  EXPECT_EQ(wikidb_history_page_json(nullptr, "P", nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  // An empty wiki: the whole history is empty, a page is missing.
  EXPECT_STREQ(wikidb_history_page_json(h_, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0),
               "{\"entries\":[],\"next\":null}");
  EXPECT_EQ(wikidb_history_page_json(h_, "P", nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: P");
  save("P", "1");
  save("P", "2");
  EXPECT_EQ(wikidb_history_page_json(h_, "Nope", nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: Nope");
  EXPECT_EQ(wikidb_history_page_json(h_, "../x", nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid title");
  // A filter that leaves nothing of an existing page is an empty page.
  EXPECT_EQ(history("P", "", 5, "nobody")["entries"].size(), 0u);

  std::string cursor = history("P", "", 1)["next"];
  for (const std::string &bad :
       {std::string("junk"), cursor + "0", cursor.substr(0, cursor.size() - 1), std::string("--all")}) {
    EXPECT_EQ(wikidb_history_page_json(h_, "P", bad.c_str(), 1, nullptr, nullptr, nullptr,
                                       WIKIDB_FOLLOW), nullptr) << bad;
    EXPECT_STREQ(wikidb_last_error(), "Invalid cursor");
  }
  // A cursor belongs to its query.
  EXPECT_EQ(wikidb_history_page_json(h_, "P", cursor.c_str(), 1, "x", nullptr, nullptr, WIKIDB_FOLLOW), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid cursor");
  EXPECT_EQ(wikidb_recent_page_json(h_, cursor.c_str(), 1, nullptr, nullptr), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid cursor");
  // A cursor whose commit is gone: git's failure, not an empty page.
  // Every commit it names replaced by one that does not exist.
  std::string gone = std::regex_replace(cursor, std::regex("[0-9a-f]{40}"), std::string(40, 'a'));
  ASSERT_NE(gone, cursor);
  // Its check still matches the query, so git is asked and fails.
  EXPECT_EQ(wikidb_history_page_json(h_, "P", gone.c_str(), 1, nullptr, nullptr, nullptr, WIKIDB_FOLLOW), nullptr);
  EXPECT_NE(std::string(wikidb_last_error()).find("git command failed"), std::string::npos)
      << wikidb_last_error();

  // A git that fails with a complaint: the complaint is the message.
  const char *before = wikidb_search_json(h_, "1", 0, 0);
  ASSERT_NE(before, nullptr);
  {
    testutil::FakeGit fake("echo 'looks like content'; echo 'fatal: broken' >&2; exit 128");
    EXPECT_EQ(wikidb_history_page_json(h_, "P", nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_NE(std::string(wikidb_last_error()).find("fatal: broken"), std::string::npos);
    EXPECT_EQ(wikidb_recent_page_json(h_, nullptr, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(wikidb_search_json(h_, "1", 0, 0), nullptr);
    EXPECT_NE(std::string(wikidb_last_error()).find("fatal: broken"), std::string::npos);
    EXPECT_EQ(wikidb_deleted_pages_json(h_), nullptr);
    EXPECT_EQ(wikidb_blame_json(h_, "P", nullptr), nullptr);
    EXPECT_NE(std::string(wikidb_last_error()).find("fatal: broken"), std::string::npos);
  }
}

TEST_F(Reads, RecentChangesShowTheKindOfEachChange) {
  save("A", "a\n");
  save("B", "b\n");
  save("A", "a2\n");
  ASSERT_EQ(wikidb_delete_page(h_, "B", nullptr, nullptr), 0);
  rename_by_hand("A", "C", "rewritten completely\n");
  // A rename made with plain git and no rename line, detected by git.
  save("D", "a long enough text for git to see the same file\n");
  git_argv(root_, {"mv", "pages/D.wiki", "pages/E.wiki"});
  commit_by_hand("Move D");
  json r = json::parse(wikidb_recent_page_json(h_, nullptr, 4, nullptr, nullptr));
  ASSERT_EQ(r["entries"].size(), 4u);
  EXPECT_EQ(r["entries"][0]["pages"], json::parse(R"([{"page":"E","kind":"renamed","from":"D"}])"));
  EXPECT_EQ(r["entries"][1]["pages"], json::parse(R"([{"page":"D","kind":"added"}])"));
  EXPECT_EQ(r["entries"][2]["pages"], json::parse(R"([{"page":"C","kind":"renamed","from":"A"}])"));
  EXPECT_EQ(r["entries"][3]["pages"], json::parse(R"([{"page":"B","kind":"deleted"}])"));
  EXPECT_EQ(r["entries"][2]["author"], "Hand");
  json rest = json::parse(wikidb_recent_page_json(h_, r["next"].get<std::string>().c_str(), 4, nullptr, nullptr));
  ASSERT_EQ(rest["entries"].size(), 3u);
  EXPECT_TRUE(rest["next"].is_null());
  EXPECT_EQ(rest["entries"][0]["pages"][0]["kind"], "modified");
}

TEST_F(Reads, SearchFoldsCaseInEveryCasedScript) {
  save("German", "Die \xc3\x9c" "berschrift\nklein \xc3\xbc" "ber\n");   // Über / über
  save("Greek", "\xce\xa3\xce\x99\xce\x93\xce\x9c\xce\x91\n");       // ΣΙΓΜΑ
  save("Final", "\xcf\x83\xce\xb9\xce\xb3\xce\xbc\xce\xb1\xcf\x82\n");   // σιγμας
  save("Russian", "\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2 \xd0\xbc\xd0\xb8\xd1\x80\n");  // ПРИВЕТ мир
  json r = search("\xc3\xbc" "ber");  // über
  EXPECT_EQ(r["hits"].size(), 2u);
  EXPECT_EQ(r["hits"][0]["line"], 1);
  EXPECT_EQ(r["hits"][0]["column"], 5);
  EXPECT_EQ(r["hits"][0]["text"], "Die \xc3\x9c" "berschrift");
  EXPECT_EQ(search("\xc3\x9c" "BER")["hits"].size(), 2u);  // ÜBER
  EXPECT_EQ(pages_of(search("\xcf\x83\xce\xb9\xce\xb3\xce\xbc\xce\xb1")),  // σιγμα
            (std::vector<std::string>{"Final", "Greek"}));
  EXPECT_EQ(pages_of(search("\xce\xa3\xce\x99\xce\x93\xce\x9c\xce\x91\xce\xa3")),  // ΣΙΓΜΑΣ
            (std::vector<std::string>{"Final"}));
  EXPECT_EQ(pages_of(search("\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82")),  // привет
            (std::vector<std::string>{"Russian"}));
  EXPECT_EQ(search("\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", 0, WIKIDB_SEARCH_CASE)["hits"].size(), 0u);
  EXPECT_EQ(search("\xc3\xbc" "ber", 0, WIKIDB_SEARCH_WORDS)["hits"].size(), 1u);
}

TEST_F(Reads, SearchNeedsEveryWordOnThePageInAnyOrder) {
  save("One", "alpha here\nand beta there\n");
  save("Two", "alpha only\n");
  save("Three", "beta alpha\n");
  save("Alpha beta title", "nothing\n");
  json r = search("BETA alpha");
  EXPECT_EQ(pages_of(r), (std::vector<std::string>{"One", "One", "Three"}));
  EXPECT_EQ(search("alpha beta gamma")["hits"].size(), 0u);
  // Titles come first when asked.
  json t = search("beta alpha", 0, WIKIDB_SEARCH_TITLES);
  EXPECT_EQ(t["hits"][0]["page"], "Alpha beta title");
  EXPECT_EQ(t["hits"][0]["line"], 0);
  EXPECT_EQ(t["hits"].size(), 4u);
  // Whole words.
  save("Four", "alphabet betamax\n");
  EXPECT_EQ(pages_of(search("alpha", 0, WIKIDB_SEARCH_WORDS)).size(), 3u);
  EXPECT_EQ(pages_of(search("alpha")).size(), 4u);
  // Literal unless asked: regex characters and option-like words.
  save("Sym", "a.c (x) [y] --open-files-in-pager -O\n");
  EXPECT_EQ(pages_of(search("a.c")), (std::vector<std::string>{"Sym"}));
  EXPECT_EQ(pages_of(search("-O")), (std::vector<std::string>{"Sym"}));
  EXPECT_EQ(pages_of(search("--open-files-in-pager")), (std::vector<std::string>{"Sym"}));
  EXPECT_EQ(pages_of(search("[y]")), (std::vector<std::string>{"Sym"}));
  EXPECT_EQ(pages_of(search("al.ha", 0, WIKIDB_SEARCH_REGEX)).size(), 4u);
  EXPECT_EQ(wikidb_search_json(h_, "(", 0, WIKIDB_SEARCH_REGEX), nullptr);
  EXPECT_NE(std::string(wikidb_last_error()), "");
  EXPECT_EQ(wikidb_search_json(h_, "  \t", 0, 0), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Empty search query");
}

TEST_F(Reads, SearchLimitSaysTruncated) {
  for (int i = 0; i < 5; i++) save(("P" + std::to_string(i)).c_str(), "word\nword again\n");
  json r = search("word", 3);
  EXPECT_EQ(r["hits"].size(), 3u);
  EXPECT_TRUE(r["truncated"]);
  r = search("word", 10);
  EXPECT_EQ(r["hits"].size(), 10u);
  EXPECT_FALSE(r["truncated"]);
  r = search("word", 9);
  EXPECT_TRUE(r["truncated"]);
  // More pages than fit a fixed argument list: all of them reach git.
  for (int i = 0; i < 150; i++) testutil::write_file(page_file("Many" + std::to_string(i) + ".wiki"), "word\n");
  git("add pages");
  commit_by_hand("Many pages");
  r = search("word", 200);
  EXPECT_EQ(r["hits"].size(), 160u);
  EXPECT_FALSE(r["truncated"]);
  // Lines longer than the cap are cut at a character boundary.
  std::string lng(600, 'a');
  save("Long", ("\xc3\xa9" + lng + "\xc3\xa9 needle\n").c_str());
  r = search("needle");
  ASSERT_EQ(r["hits"].size(), 1u);
  EXPECT_LE(r["hits"][0]["text"].get<std::string>().size(), 500u);
}

TEST_F(Reads, SearchReadsNoFileThroughASymbolicLink) {
  testutil::TempDir outside;
  testutil::write_file(outside / "secret.txt", "secretword\n");
  save("Plain", "nothing here\n");
  testutil::sh("ln -s " + testutil::shq(outside / "secret.txt") + " " + testutil::shq(page_file("Link.wiki")));
  git_argv(root_, {"add", "pages/Link.wiki"});
  commit_by_hand("A link");
  EXPECT_EQ(search("secretword")["hits"].size(), 0u);
  EXPECT_EQ(search("secret.txt")["hits"].size(), 0u);
}

TEST_F(Reads, DeletedPagesCanBeRestored) {
  EXPECT_STREQ(wikidb_deleted_pages_json(h_), "[]");
  save("Gone", "last text\n");
  save("Back", "b\n");
  save("Stays", "s\n");
  ASSERT_EQ(wikidb_delete_page(h_, "Gone", nullptr, nullptr), 0);
  ASSERT_EQ(wikidb_delete_page(h_, "Back", nullptr, nullptr), 0);
  save("Back", "again\n");
  rename_by_hand("Stays", "Moved", "");
  json d = json::parse(wikidb_deleted_pages_json(h_));
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0]["page"], "Stays");
  EXPECT_EQ(d[0]["renamed_to"], "Moved");
  EXPECT_EQ(d[1]["page"], "Gone");
  EXPECT_EQ(d[1]["summary"], "Delete Gone");
  std::string restore = d[1]["restore_from"];
  ASSERT_EQ(wikidb_rollback(h_, "Gone", restore.c_str(), nullptr), 0) << wikidb_last_error();
  EXPECT_STREQ(wikidb_get_page(h_, "Gone"), "last text\n");
  EXPECT_EQ(json::parse(wikidb_deleted_pages_json(h_)).size(), 1u);
}

TEST_F(Reads, BlameNamesTheCommitOfEachLineAcrossARewritingRename) {
  save("Old", "first line\n", "Ann <ann@x>");
  save("Old", "first line\nsecond line\n", "Bob <bob@x>");
  std::string ann = git_hashes("HEAD~1 -1")[0], bob = head();
  // The rename rewrites most of the text: too little is left for git to
  // see one file, but the first line survives.
  rename_by_hand("Old", "New", "first line\nall\nnew\ntext\nhere\n");
  std::string ren = head();
  json b = json::parse(wikidb_blame_json(h_, "New", nullptr));
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(b[0]["hash"], ann);
  EXPECT_EQ(b[0]["page"], "Old");
  EXPECT_EQ(b[0]["author"], "Ann");
  EXPECT_EQ(b[0]["email"], "ann@x");
  EXPECT_EQ(b[0]["line"], 1);
  EXPECT_EQ(b[0]["text"], "first line");
  EXPECT_EQ(b[0]["date"], git("log -1 --date=iso --format=%ad " + ann).substr(0, 25));
  EXPECT_EQ(b[1]["hash"], ren);
  EXPECT_EQ(b[1]["page"], "New");
  EXPECT_EQ(b[4]["line"], 5);
  // At an older revision, under the old title.
  json old = json::parse(wikidb_blame_json(h_, "Old", bob.c_str()));
  ASSERT_EQ(old.size(), 2u);
  EXPECT_EQ(old[1]["hash"], bob);
  EXPECT_EQ(wikidb_blame_json(h_, "New", "nope"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Unknown revision: nope");
  EXPECT_EQ(wikidb_blame_json(h_, "New", "--all"), nullptr);
  EXPECT_EQ(wikidb_blame_json(h_, "Missing", nullptr), nullptr);
  EXPECT_NE(std::string(wikidb_last_error()), "");
}

}  // namespace
