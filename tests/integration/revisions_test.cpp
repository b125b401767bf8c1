#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "testutil.h"
#include "wiki_fixture.h"

using testutil::exists;

namespace {

class Revisions : public WikiTest {
 protected:
  void SetUp() override {
    WikiTest::SetUp();
    save("P", "first\n");
    first_ = head();
    save("P", "second\n");
    second_ = head();
  }
  std::string first_, second_;
};

TEST_F(Revisions, ReadsThePageAtAnOlderCommit) {
  const char *t = wikidb_get_revision(h_, "P", first_.c_str());
  ASSERT_NE(t, nullptr) << wikidb_last_error();
  EXPECT_STREQ(t, "first\n");
  EXPECT_STREQ(wikidb_last_error(), "");
  // A hash taken from the history report works the same.
  auto hist = nlohmann::json::parse(wikidb_get_history_json(h_, "P"));
  EXPECT_STREQ(wikidb_get_revision(h_, "P", hist[0]["hash"].get<std::string>().c_str()), "second\n");
}

TEST_F(Revisions, EmptyPageGivesTheStaticEmptyText) {
  save("E", "");
  const char *a = wikidb_get_revision(h_, "E", "HEAD");
  const char *b = wikidb_get_revision(h_, "E", "HEAD");
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a, "");
  EXPECT_EQ(a, b);  // the one static text, not a slot
}

TEST_F(Revisions, FailedReadKeepsThePreviousText) {
  const char *t = wikidb_get_revision(h_, "P", first_.c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(wikidb_get_revision(h_, "P", "0123456789abcdef0123456789abcdef01234567"), nullptr);
  EXPECT_EQ(std::string(wikidb_last_error()).rfind("git command failed (exit code 128): ", 0), 0u)
      << wikidb_last_error();
  EXPECT_STREQ(t, "first\n");
  EXPECT_EQ(wikidb_get_revision(h_, "Absent", "HEAD"), nullptr);
  EXPECT_STREQ(t, "first\n");
}

TEST_F(Revisions, DiffBetweenTwoCommits) {
  const char *d = wikidb_get_diff(h_, "P", first_.c_str(), second_.c_str());
  EXPECT_STREQ(wikidb_last_error(), "");
  const std::string diff = d;
  EXPECT_EQ(diff, git("diff " + first_ + " " + second_ + " -- pages/P.wiki"));
  EXPECT_NE(diff.find("\n-first\n+second\n"), std::string::npos);
  EXPECT_NE(diff.find("--- a/pages/P.wiki\n+++ b/pages/P.wiki\n"), std::string::npos);
}

TEST_F(Revisions, DiffOfIdenticalCommitsIsTheStaticEmptyText) {
  const char *a = wikidb_get_diff(h_, "P", second_.c_str(), second_.c_str());
  const char *b = wikidb_get_diff(h_, "P", first_.c_str(), first_.c_str());
  EXPECT_STREQ(a, "");
  EXPECT_EQ(a, b);
}

TEST_F(Revisions, DiffReturnsGitsComplaintWithoutAnError) {
  const std::string d = wikidb_get_diff(h_, "P", "nosuchrev", second_.c_str());
  EXPECT_NE(d.find("nosuchrev"), std::string::npos) << d;
  EXPECT_STREQ(wikidb_last_error(), "");
  // Empty commit texts pass the check and reach git.
  wikidb_get_diff(h_, "P", "", "");
  EXPECT_STREQ(wikidb_last_error(), "");
}

TEST_F(Revisions, DiffWithoutGitIsEmptyAndSilent) {
  const char *old = wikidb_get_diff(h_, "P", first_.c_str(), second_.c_str());
  ASSERT_NE(std::string(old), "");
  testutil::NoGit none;
  const char *d = wikidb_get_diff(h_, "P", first_.c_str(), second_.c_str());
  EXPECT_STREQ(d, "");
  EXPECT_STREQ(wikidb_last_error(), "");
}

TEST_F(Revisions, InvalidParameters) {
  EXPECT_EQ(wikidb_get_revision(nullptr, "P", "HEAD"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");
  EXPECT_EQ(wikidb_get_revision(h_, "P", ""), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");
  EXPECT_EQ(wikidb_get_revision(h_, "../x", "HEAD"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");
  // A commit so long that the object name would be cut names another object.
  EXPECT_EQ(wikidb_get_revision(h_, "P", std::string(690, 'a').c_str()), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");

  const char *kept = wikidb_get_diff(h_, "P", first_.c_str(), second_.c_str());
  EXPECT_STREQ(wikidb_get_diff(h_, "P", nullptr, "HEAD"), "");
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_diff");
  EXPECT_STREQ(wikidb_get_diff(nullptr, "P", "HEAD", "HEAD"), "");
  EXPECT_STREQ(wikidb_get_diff(h_, "", "HEAD", "HEAD"), "");
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_diff");
  EXPECT_NE(std::string(kept).find("+second"), std::string::npos);  // still valid

  EXPECT_EQ(wikidb_rollback(h_, "P", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
  EXPECT_EQ(wikidb_rollback(nullptr, "P", "HEAD", nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
  EXPECT_EQ(wikidb_rollback(h_, "a/../../b", "HEAD", nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
}

TEST_F(Revisions, OptionInjectionIsRefusedAndWritesNothing) {
  const std::string target = tmp_ / "injected";
  const std::string opt = "--output=" + target;
  EXPECT_EQ(wikidb_get_revision(h_, "P", (opt + ":pages/P.wiki").c_str()), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_revision");
  EXPECT_STREQ(wikidb_get_diff(h_, "P", opt.c_str(), "HEAD"), "");
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_diff");
  EXPECT_STREQ(wikidb_get_diff(h_, "P", "HEAD", opt.c_str()), "");
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_diff");
  EXPECT_EQ(wikidb_rollback(h_, "P", opt.c_str(), nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
  EXPECT_EQ(wikidb_rollback(h_, "P", "-b", nullptr), -1);
  EXPECT_FALSE(exists(target));
  EXPECT_FALSE(exists(root_ + "/injected"));
  EXPECT_EQ(head(), second_);
  EXPECT_EQ(git("branch --list | wc -l"), "1\n");  // no branch "-b" was made
}

TEST_F(Revisions, RollbackRestoresTheOldTextAsANewCommit) {
  ASSERT_EQ(wikidb_rollback(h_, "P", first_.c_str(), "Ann <ann@example.org>"), 0) << wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_page(h_, "P"), "first\n");
  EXPECT_EQ(git("log -1 --format='%an <%ae>|%s'"), "Ann <ann@example.org>|Rollback P to " + first_ + "\n");
  EXPECT_EQ(commit_count(), 3);
  EXPECT_EQ(git("status --porcelain"), "");
}

TEST_F(Revisions, RollbackToTheCurrentTextIsANoOp) {
  EXPECT_EQ(wikidb_rollback(h_, "P", second_.c_str(), nullptr), 0) << wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_EQ(head(), second_);
}

TEST_F(Revisions, RollbackToACommitWithoutThePageFails) {
  save("Later", "x");
  EXPECT_EQ(wikidb_rollback(h_, "Later", first_.c_str(), nullptr), -1);
  // git's own words about the missing page.
  const std::string error = wikidb_last_error();
  EXPECT_EQ(error.rfind("git command failed (exit code ", 0), 0u) << error;
  EXPECT_NE(error.find("pages/Later.wiki"), std::string::npos) << error;
  EXPECT_EQ(testutil::read_file(page_file("Later.wiki")), "x");
  EXPECT_EQ(git("diff --cached --name-only"), "");
}

}  // namespace
