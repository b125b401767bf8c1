// Titles made of git's wildcard characters name one page each: no operation
// may reach the other pages through them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "fault_support.h"
#include "wikidb.h"

using namespace testutil;
using namespace faults;
using nlohmann::json;

namespace {

class Wildcards : public LeakCounted {
 protected:
  TempDir dir;
  std::string root = dir / "wiki";
  wikidb_handle *h = nullptr;

  void SetUp() override {
    LeakCounted::SetUp();
    h = wikidb_open(root.c_str());
    ASSERT_NE(h, nullptr) << wikidb_last_error();
    for (const char *t : {"a", "b", "*", "?", "[ab]", "sub/x"})
      ASSERT_EQ(wikidb_save_page(h, t, (std::string("v1 of ") + t).c_str(), "Ann", nullptr), 0)
          << t << ": " << wikidb_last_error();
  }
  void TearDown() override {
    wikidb_close(h);
    LeakCounted::TearDown();
  }
  std::string files_of(const std::string &rev) {
    return git(root, "show --format= --name-only " + rev);
  }
};

TEST_F(Wildcards, DeleteRemovesOnlyThatPage) {
  const std::string before = git(root, "rev-parse HEAD");
  EXPECT_EQ(wikidb_delete_page(h, "[ab]*", "Ann", nullptr), 0) << "no such page: nothing to do";
  EXPECT_EQ(git(root, "rev-parse HEAD"), before);
  EXPECT_EQ(git(root, "status --porcelain"), "");

  ASSERT_EQ(wikidb_delete_page(h, "*", "Ann", nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(files_of("HEAD"), "pages/*.wiki\n");
  EXPECT_EQ(json::parse(wikidb_list_pages_json(h, nullptr)),
            json::array({"?", "[ab]", "a", "b", "sub/x"}));
}

TEST_F(Wildcards, SaveCommitsOnlyThatPage) {
  write_file(root + "/pages/a.wiki", "edited by hand");
  ASSERT_EQ(wikidb_save_page(h, "[ab]", "v2", "Ann", nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(files_of("HEAD"), "pages/[ab].wiki\n");
  ASSERT_EQ(wikidb_save_page(h, "?", "v2", "Ann", nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(files_of("HEAD"), "pages/?.wiki\n");
  EXPECT_EQ(git(root, "status --porcelain"), " M pages/a.wiki\n") << "a stays uncommitted";
}

TEST_F(Wildcards, RollbackRestoresOnlyThatPage) {
  const std::string first = git(root, "rev-list --max-parents=0 HEAD").substr(0, 40);
  for (const char *t : {"a", "b", "*", "?"}) ASSERT_EQ(wikidb_save_page(h, t, "v2", "Ann", nullptr), 0);
  const std::string before = git(root, "rev-parse HEAD").substr(0, 40);
  // "*" did not exist in the first commit: its rollback fails and touches nothing.
  EXPECT_EQ(wikidb_rollback(h, "*", first.c_str(), "Ann"), -1);
  EXPECT_EQ(git(root, "rev-parse HEAD").substr(0, 40), before);
  EXPECT_EQ(git(root, "status --porcelain"), "");
  EXPECT_STREQ(wikidb_get_page(h, "a"), "v2");

  json history = json::parse(wikidb_get_history_json(h, "?"));
  ASSERT_EQ(history.size(), 2u) << history;
  const std::string v1 = history[1]["hash"];
  ASSERT_EQ(wikidb_rollback(h, "?", v1.c_str(), "Ann"), 0) << wikidb_last_error();
  EXPECT_EQ(files_of("HEAD"), "pages/?.wiki\n");
  EXPECT_STREQ(wikidb_get_page(h, "?"), "v1 of ?");
  EXPECT_STREQ(wikidb_get_page(h, "a"), "v2");
}

TEST_F(Wildcards, HistoryAndDiffSeeOnlyThatPage) {
  ASSERT_EQ(wikidb_save_page(h, "a", "v2", "Ann", "touch a"), 0);
  json history = json::parse(wikidb_get_history_json(h, "?"));
  ASSERT_EQ(history.size(), 1u) << history;
  EXPECT_EQ(history[0]["summary"], "Update ?");
  EXPECT_EQ(history[0]["size"], 7);
  const std::string first = git(root, "rev-list --max-parents=0 HEAD").substr(0, 40);
  EXPECT_EQ(wikidb_get_diff(h, "*", first.c_str(), "HEAD"),
            git(root, "diff " + first + " HEAD -- ':(literal)pages/*.wiki'"));
  EXPECT_EQ(std::string(wikidb_get_diff(h, "*", first.c_str(), "HEAD")).find("pages/a.wiki"),
            std::string::npos);
}

}  // namespace
