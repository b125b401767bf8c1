// The two ways a page history learns its sizes (each commit's "HASH:PATH",
// or the object ids the log's own diff names) give the same text, in a
// wiki of loose objects and in a packed one, whatever git made the history
// of: library saves, deletions, plain git merges, a page path that becomes
// a directory, a symbolic link, a mode change.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "frame/strbuf.h"
#include "reports/history.h"
#include "testutil.h"
#include "wiki_fixture.h"

namespace {

class HistorySizes : public WikiTest {
 protected:
  std::string by(const std::string &title, history_sizes_way way) const {
    std::string repo = "pages/" + title + ".wiki";
    for (char &c : repo)
      if (c == '\\') c = '/';
    strbuf json = {};
    page_history_json(root_.c_str(), repo.c_str(), way, &json);
    std::string text(json.data ? json.data : "", json.len);
    strbuf_release(&json);
    return text;
  }
  void commit_all(const std::string &message) {
    git("add -A pages");
    git("-c user.name=Git -c user.email=git@example.org commit -q -m " + testutil::shq(message));
  }
  // Every title's history both ways and through the library: one text.
  void expect_both_ways_equal(const std::vector<std::string> &titles, const char *state) {
    for (const std::string &t : titles) {
      const std::string by_path = by(t, SIZES_BY_PATH), by_id = by(t, SIZES_BY_ID);
      EXPECT_EQ(by_id, by_path) << state << ": " << t;
      EXPECT_EQ(wikidb_get_history_json(h_, t.c_str()), by_path) << state << ": " << t;
      EXPECT_NE(by_path, "[]") << state << ": " << t;
    }
  }
};

TEST_F(HistorySizes, BothWaysGiveTheSameTextLooseAndPacked) {
  const std::vector<std::string> titles = {"plain", "sp ace", "dq\"q", "nl\nline", "tab\there",
                                           "caf\xc3\xa9", "dir/sub", "back\\slash", "x",
                                           "merged", "link", "exec"};
  for (const std::string &t : titles) {
    save(t.c_str(), ("v1 " + t).c_str());
    save(t.c_str(), "");
    ASSERT_EQ(wikidb_delete_page(h_, t.c_str(), nullptr, nullptr), 0);
    save(t.c_str(), ("version four of " + t).c_str());
  }
  // "x" becomes a directory: its path now names a tree, sized as one. The
  // library refuses such titles, so plain git makes it.
  ASSERT_EQ(wikidb_delete_page(h_, "x", nullptr, nullptr), 0);
  testutil::sh("mkdir -p " + testutil::shq(page_file("x.wiki")));
  testutil::write_file(page_file("x.wiki/inner.wiki"), "inside a directory named like a page");
  commit_all("x becomes a directory");
  // A merge whose result differs from both sides: listed, with no diff.
  git("checkout -q -b side");
  testutil::write_file(page_file("merged.wiki"), "side text\n");
  commit_all("side edit");
  git("checkout -q -");
  testutil::write_file(page_file("merged.wiki"), "main text, longer\n");
  commit_all("main edit");
  git("-c user.name=Git -c user.email=git@example.org merge -q side -m merge >/dev/null 2>&1");
  const std::string resolved = "resolved by hand, longest of all\n";
  testutil::write_file(page_file("merged.wiki"), resolved);
  commit_all("resolve the merge");
  // A symbolic link and a mode change made with plain git.
  ASSERT_EQ(unlink(page_file("link.wiki").c_str()), 0);
  ASSERT_EQ(symlink("plain.wiki", page_file("link.wiki").c_str()), 0);
  commit_all("link");
  ASSERT_EQ(chmod(page_file("exec.wiki").c_str(), 0755), 0);
  commit_all("mode");
  save("merged", "after the merge");

  ASSERT_EQ(history_sizes_way_for(root_.c_str()), SIZES_BY_PATH) << "loose objects only";
  expect_both_ways_equal(titles, "loose");
  // The merge resolution is sized although its diff is not shown.
  const std::string merge_size = std::to_string(resolved.size());
  EXPECT_NE(by("merged", SIZES_BY_ID).find("\"summary\":\"resolve the merge\",\"size\":" + merge_size + "}"),
            std::string::npos);
  EXPECT_NE(by("x", SIZES_BY_ID).find("\"size\":0}"), std::string::npos);

  git("gc -q");
  ASSERT_EQ(history_sizes_way_for(root_.c_str()), SIZES_BY_PATH) << "packed, but few pages";
  expect_both_ways_equal(titles, "packed");
  // Many pages, packed: the library takes the ids.
  testutil::sh("mkdir -p " + testutil::shq(page_file("many")));
  for (int i = 0; i < 1000; i++)
    testutil::write_file(page_file("many/page-" + std::to_string(i) + ".wiki"), std::to_string(i));
  commit_all("a thousand pages");
  git("gc -q");
  ASSERT_EQ(history_sizes_way_for(root_.c_str()), SIZES_BY_ID) << "packed, 1000 pages";
  expect_both_ways_equal(titles, "packed, many pages");
  // Packed, then more loose commits over it.
  save("plain", "loose again");
  testutil::write_file(page_file("x.wiki/inner.wiki"), "and the directory again");
  commit_all("the directory again");
  expect_both_ways_equal(titles, "packed and loose");
}

TEST_F(HistorySizes, APageNeverSavedAndAnEmptyWiki) {
  EXPECT_EQ(by("none", SIZES_BY_ID), "[]");
  EXPECT_EQ(by("none", SIZES_BY_PATH), "[]");
  save("a", "1");
  EXPECT_EQ(by("none", SIZES_BY_ID), "[]");
}

// A size query that fails, or answers what was not asked, falls back to one
// query per commit: the same text, and no message left.
TEST_F(HistorySizes, AFailingSizeQueryFallsBackPerCommit) {
  for (int i = 0; i < 5; i++) save("p", std::string((size_t)i * 10 + 1, 'a').c_str());
  ASSERT_EQ(wikidb_delete_page(h_, "p", nullptr, nullptr), 0);
  const std::string want = by("p", SIZES_BY_PATH);
  for (const char *answer : {"echo 'fatal: broken' >&2; exit 128", "echo 12; exit 0"}) {
    testutil::FakeGit fake(std::string("case \"$4 $5\" in \"cat-file --batch-check\"*) ") + answer +
                           ";; esac\nexec \"$REAL_GIT\" \"$@\"");
    EXPECT_EQ(by("p", SIZES_BY_ID), want) << answer;
    EXPECT_STREQ(wikidb_last_error(), "") << answer;
  }
}

}  // namespace
