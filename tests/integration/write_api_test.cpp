// The write API against real git: conditions, rebuilds on a moved branch,
// the work tree that follows, renames, batches and the reports they leave.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "store/journal.h"
#include "wiki_fixture.h"

using nlohmann::json;

namespace {

class WriteApiTest : public WikiTest {
 protected:
  std::string rev(const char *title) {
    const char *r = wikidb_page_revision(h_, title);
    EXPECT_NE(r, nullptr) << wikidb_last_error();
    return r ? r : "";
  }
  std::string last() { return wikidb_last_commit(h_); }
  json report() { return json::parse(wikidb_conflict_json(h_)); }
  std::string at_head(const std::string &title) {
    return git("show HEAD:" + testutil::shq("pages/" + title + ".wiki") + " 2>/dev/null");
  }
  // A person commits a page by hand with plain git, in the same work tree.
  void person_commits(const std::string &title, const std::string &text) {
    testutil::write_file(page_file(title + ".wiki"), text);
    git("add " + testutil::shq("pages/" + title + ".wiki"));
    git("-c user.name=P -c user.email=p@x commit -q -m person");
  }
  void expect_clean_status() {
    EXPECT_EQ(git("status --porcelain"), "");
    int st = 0;
    testutil::git(root_, "fsck --full --no-progress 2>&1", &st);
    EXPECT_EQ(st, 0);
  }
};

TEST_F(WriteApiTest, VersionMacrosAgreeWithLibrary) {
  const std::string text = std::to_string(WIKIDB_VERSION_MAJOR) + "." +
                           std::to_string(WIKIDB_VERSION_MINOR) + "." +
                           std::to_string(WIKIDB_VERSION_PATCH);
  EXPECT_EQ(text, WIKIDB_VERSION_TEXT);
  EXPECT_STREQ(wikidb_version(), WIKIDB_VERSION_TEXT);
}

TEST_F(WriteApiTest, RevisionFollowsTheLastChangeOfThePage) {
  EXPECT_EQ(rev("Home"), "");  // no commit at all yet
  save("Home", "one\n");
  const std::string first = head();
  EXPECT_EQ(rev("Home"), first);
  save("Other", "x\n");
  EXPECT_EQ(rev("Home"), first) << "another page's commit is not this page's revision";
  ASSERT_EQ(wikidb_delete_page(h_, "Home", nullptr, nullptr), 0);
  EXPECT_EQ(rev("Home"), "") << "a deleted page has no revision";
  EXPECT_EQ(wikidb_page_revision(h_, "../x"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid title");
}

TEST_F(WriteApiTest, ConditionalSaveCommitsAndFollowsWorkTree) {
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "v1\n", "Ann <ann@x.org>", "first", "", 0), 0)
      << wikidb_last_error();
  const std::string c1 = last();
  EXPECT_EQ(c1, head());
  EXPECT_EQ(rev("Home"), c1);
  EXPECT_EQ(testutil::read_file(page_file("Home.wiki")), "v1\n");
  EXPECT_EQ(git("log -1 --format=%an%n%ae%n%B HEAD"), "Ann\nann@x.org\nfirst\n\n");
  expect_clean_status();

  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "v2\n", nullptr, nullptr, c1.c_str(), 0), 0);
  EXPECT_EQ(git("rev-parse HEAD^"), c1 + "\n");
  EXPECT_EQ(git("log -1 --format=%s"), "Update Home\n");
  // An abbreviated revision is accepted; the same text commits nothing.
  const std::string c2 = last();
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "v2\n", nullptr, nullptr, c2.substr(0, 7).c_str(), 0), 0);
  EXPECT_EQ(last(), "");
  EXPECT_EQ(head(), c2);
  expect_clean_status();
}

TEST_F(WriteApiTest, StaleRevisionConflictsAndWritesNothing) {
  save("Home", "a\nb\nm\nc\n");
  const std::string base = rev("Home");
  save("Home", "a\nB\nm\nc\n");  // someone else's edit
  const std::string current = head();
  const int before = commit_count();
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "a\nb\nm\nC\n", nullptr, nullptr, base.c_str(), 0),
            WIKIDB_CONFLICT);
  EXPECT_EQ(commit_count(), before);
  EXPECT_EQ(last(), "");
  EXPECT_EQ(testutil::read_file(page_file("Home.wiki")), "a\nB\nm\nc\n");
  json r = report();
  EXPECT_FALSE(r["merged"].get<bool>());
  ASSERT_EQ(r["conflicts"].size(), 1u);
  json c = r["conflicts"][0];
  EXPECT_EQ(c["page"], "Home");
  EXPECT_EQ(c["expected"], base);
  EXPECT_EQ(c["current"], current);
  EXPECT_EQ(c["base_text"], "a\nb\nm\nc\n");
  EXPECT_EQ(c["ours"], "a\nb\nm\nC\n");
  EXPECT_EQ(c["theirs"], "a\nB\nm\nc\n");
  EXPECT_EQ(c["merged_text"], "a\nB\nm\nC\n");
  EXPECT_TRUE(c["clean"].get<bool>());
  // "" means the page must not exist.
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "x", nullptr, nullptr, "", 0), WIKIDB_CONFLICT);
  EXPECT_EQ(report()["conflicts"][0]["base_text"], nullptr);
  // A change undone since the expected revision loses nothing: no conflict.
  save("Home", "a\nb\nm\nc\n");
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "after undo\n", nullptr, nullptr, base.c_str(), 0), 0);
  EXPECT_EQ(at_head("Home"), "after undo\n");
  // An expected revision git does not know is stale too.
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "x", nullptr, nullptr, "0123456789abcdef", 0),
            WIKIDB_CONFLICT);
}

TEST_F(WriteApiTest, MergeFlagCommitsNonOverlappingEditsOnly) {
  save("Home", "a\nb\nm\nc\n");
  const std::string base = rev("Home");
  save("Home", "a\nB\nm\nc\n");
  const std::string theirs = head();
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "a\nb\nm\nC\n", nullptr, nullptr, base.c_str(),
                                WIKIDB_MERGE), 0) << wikidb_last_error();
  EXPECT_TRUE(report()["merged"].get<bool>());
  EXPECT_EQ(at_head("Home"), "a\nB\nm\nC\n");
  EXPECT_EQ(git("rev-parse HEAD^"), theirs + "\n");
  EXPECT_EQ(testutil::read_file(page_file("Home.wiki")), "a\nB\nm\nC\n");
  // Overlapping edits: no commit, markers in the report.
  const std::string now = head();
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "a\nX\nm\nC\n", nullptr, nullptr, base.c_str(),
                                WIKIDB_MERGE), WIKIDB_CONFLICT);
  EXPECT_EQ(head(), now);
  json c = report()["conflicts"][0];
  EXPECT_FALSE(c["clean"].get<bool>());
  EXPECT_NE(c["merged_text"].get<std::string>().find("<<<<<<< ours"), std::string::npos);
  expect_clean_status();
}

TEST_F(WriteApiTest, OtherPagesChangingIsNoConflictAndPersonCommitIsKept) {
  save("Home", "h\n");
  const std::string home_rev = rev("Home");
  person_commits("Other", "by hand\n");
  const std::string persons = head();
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "h2\n", nullptr, nullptr, home_rev.c_str(), 0), 0)
      << wikidb_last_error();
  EXPECT_EQ(git("rev-parse HEAD^"), persons + "\n");
  EXPECT_EQ(at_head("Other"), "by hand\n");
  expect_clean_status();
}

TEST_F(WriteApiTest, HandStagedChangeStaysStagedAndUncommitted) {
  save("Home", "h\n");
  save("Draft", "d\n");
  testutil::write_file(page_file("Draft.wiki"), "staged by hand\n");
  git("add pages/Draft.wiki");
  testutil::write_file(page_file("Loose.wiki"), "untracked\n");
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "h2\n", nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(at_head("Draft"), "d\n");
  EXPECT_EQ(git("diff --cached --name-only"), "pages/Draft.wiki\n");
  EXPECT_EQ(git("status --porcelain -- pages/Home.wiki"), "");
  EXPECT_TRUE(testutil::exists(page_file("Loose.wiki")));
}

TEST_F(WriteApiTest, LastCommitCoversTheThirteenFunctionsWrites) {
  save("Home", "one\n");
  EXPECT_EQ(last(), head());
  save("Home", "one\n");
  EXPECT_EQ(last(), "") << "nothing to commit makes no commit";
  ASSERT_EQ(wikidb_rollback(h_, "Home", "HEAD", nullptr), 0);
  EXPECT_EQ(last(), "");
  save("Home", "two\n");
  const std::string second = head();
  ASSERT_EQ(wikidb_rollback(h_, "Home", "HEAD^", nullptr), 0);
  EXPECT_EQ(last(), head());
  EXPECT_NE(last(), second);
  ASSERT_EQ(wikidb_delete_page(h_, "Home", nullptr, nullptr), 0);
  EXPECT_EQ(last(), head());
  EXPECT_EQ(wikidb_save_page(h_, "../bad", "x", nullptr, nullptr), -1);
  EXPECT_EQ(last(), "");
}

TEST_F(WriteApiTest, RenameKeepsTextHistoryAndRecordsTrailer) {
  const char *odd = "Q\"uo\x01te\tx";
  save("Old", "text\n");
  save("Old", "text 2\n");
  save("Taken", "t\n");
  ASSERT_EQ(wikidb_rename_page(h_, "Old", odd, nullptr, nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(last(), head());
  EXPECT_EQ(at_head(odd), "text 2\n");
  EXPECT_FALSE(testutil::exists(page_file("Old.wiki")));
  EXPECT_EQ(testutil::read_file(page_file(std::string(odd) + ".wiki")), "text 2\n");
  // The trailer names both titles as JSON strings, read back whole.
  std::string trailer = git("log -1 '--format=%(trailers:key=Wikidb-Rename,valueonly)'");
  size_t arrow = trailer.find(" -> ");
  ASSERT_NE(arrow, std::string::npos) << trailer;
  EXPECT_EQ(json::parse(trailer.substr(0, arrow)), "Old");
  EXPECT_EQ(json::parse(trailer.substr(arrow + 4)), odd);
  EXPECT_EQ(git("log --follow --format=%s -- " + testutil::shq("pages/" + std::string(odd) + ".wiki")),
            "Rename Old to " + std::string(odd) + "\nUpdate Old\nUpdate Old\n");
  // Refusals: missing source, existing target.
  EXPECT_EQ(wikidb_rename_page(h_, "Old", "New", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: Old");
  EXPECT_EQ(wikidb_rename_page(h_, "Taken", odd, nullptr, nullptr), -1);
  EXPECT_EQ(std::string(wikidb_last_error()), std::string("Page already exists: ") + odd);
  EXPECT_EQ(wikidb_rename_page(h_, "Taken", "dir/Deep", nullptr, nullptr), 0);
  EXPECT_EQ(at_head("dir/Deep"), "t\n");
  expect_clean_status();
}

TEST_F(WriteApiTest, BatchIsAllOrNothingAndListsEveryStalePage) {
  save("A", "a\n");
  save("B", "b\n");
  const std::string ra = rev("A"), rb = rev("B");
  save("A", "a changed\n");
  save("B", "b changed\n");
  const std::string before = head();
  ASSERT_EQ(wikidb_begin(h_), 0);
  EXPECT_EQ(wikidb_begin(h_), -1);
  ASSERT_EQ(wikidb_stage_save(h_, "A", "mine\n", ra.c_str()), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "C", "new\n", ""), 0);
  ASSERT_EQ(wikidb_stage_delete(h_, "B", rb.c_str()), 0);
  EXPECT_EQ(wikidb_stage_save(h_, "..", "x", nullptr), -1);
  EXPECT_EQ(wikidb_commit(h_, nullptr, nullptr, 0), WIKIDB_CONFLICT);
  EXPECT_EQ(head(), before);
  EXPECT_FALSE(testutil::exists(page_file("C.wiki")));
  json r = report();
  ASSERT_EQ(r["conflicts"].size(), 2u);
  EXPECT_EQ(r["conflicts"][0]["page"], "A");
  EXPECT_EQ(r["conflicts"][1]["page"], "B");
  EXPECT_EQ(r["conflicts"][1]["ours"], nullptr);
  EXPECT_EQ(wikidb_commit(h_, nullptr, nullptr, 0), -1) << "the batch ended";

  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "A", "mine\n", rev("A").c_str()), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "C", "new\n", ""), 0);
  ASSERT_EQ(wikidb_stage_rename(h_, "C", "sub/D", nullptr), 0);
  ASSERT_EQ(wikidb_stage_delete(h_, "B", nullptr), 0);
  ASSERT_EQ(wikidb_commit(h_, "Bo <bo@x>", "several", 0), 0) << wikidb_last_error();
  EXPECT_EQ(git("rev-parse HEAD^"), before + "\n");
  EXPECT_EQ(git("show --name-status --format= HEAD"), "M\tpages/A.wiki\nD\tpages/B.wiki\nA\tpages/sub/D.wiki\n");
  EXPECT_NE(git("log -1 --format=%B").find("Wikidb-Rename: \"C\" -> \"sub/D\""), std::string::npos);
  expect_clean_status();

  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "A", "dropped\n", nullptr), 0);
  ASSERT_EQ(wikidb_abort(h_), 0);
  EXPECT_EQ(at_head("A"), "mine\n");
  EXPECT_EQ(wikidb_abort(h_), -1);
  // A batch left open is dropped by close.
  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "A", "x", nullptr), 0);
}

TEST_F(WriteApiTest, CommitAsKeepsImportedIdentitiesAndDates) {
  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "Imported", "old text\n", ""), 0);
  ASSERT_EQ(wikidb_commit_as(h_, "Orig <orig@old.org>", "@1000000000 +0200", "Mover <m@old.org>",
                             "2001-09-10 12:00:00 -0500", "imported", 0), 0)
      << wikidb_last_error();
  EXPECT_EQ(git("log -1 '--format=%an|%ae|%ad|%cn|%ce|%cd' --date=raw"),
            "Orig|orig@old.org|1000000000 +0200|Mover|m@old.org|1000141200 -0500\n");
  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "Imported", "newer\n", nullptr), 0);
  EXPECT_EQ(wikidb_commit_as(h_, "A <a@b>", "not a date at all", nullptr, nullptr, "x", 0), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("git command failed"), std::string::npos);
}

TEST_F(WriteApiTest, HostileMessagesAuthorsAndLinksAreHandled) {
  std::string long_msg(100000, 'm');
  long_msg += "\n\n# not a comment\n";
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "x", "Ann <a@x>", long_msg.c_str(), nullptr, 0), 0);
  EXPECT_EQ(git("log -1 --format=%B"), long_msg + "\n");
  // An author git could not record as given is refused, as save refuses it.
  const std::string before = head();
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "y", "Evil\nName <e@x>", nullptr, nullptr, 0), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid author");
  EXPECT_EQ(head(), before);
  // A link where a page directory should be is never followed.
  testutil::TempDir outside;
  ASSERT_EQ(testutil::sh("ln -s " + testutil::shq(outside.path()) + " " +
                         testutil::shq(root_ + "/pages/linked")), "");
  EXPECT_EQ(wikidb_save_page_if(h_, "linked/P", "x", nullptr, nullptr, nullptr, 0), -1);
  EXPECT_FALSE(testutil::exists(outside / "P.wiki"));
  EXPECT_EQ(head(), before) << "no commit for a page that cannot reach the work tree";
  ASSERT_EQ(testutil::sh("ln -s " + testutil::shq(outside / "T.wiki") + " " +
                         testutil::shq(root_ + "/pages/Target.wiki")), "");
  EXPECT_EQ(wikidb_rename_page(h_, "Home", "Target", nullptr, nullptr), -1);
  EXPECT_FALSE(testutil::exists(outside / "T.wiki"));
  // A page and a directory of pages cannot share a name.
  save("Box", "b");
  EXPECT_EQ(wikidb_save_page_if(h_, "Box.wiki/In", "x", nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "x", nullptr, nullptr, "zz", 0), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid expected revision");
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "x", nullptr, nullptr, nullptr, 8), -1);
}

TEST_F(WriteApiTest, NoHookRuns) {
  testutil::write_file(root_ + "/.git/hooks/pre-commit", "#!/bin/sh\nexit 1\n");
  testutil::write_file(root_ + "/.git/hooks/commit-msg", "#!/bin/sh\nexit 1\n");
  testutil::sh("chmod +x " + testutil::shq(root_ + "/.git/hooks/pre-commit") + " " +
               testutil::shq(root_ + "/.git/hooks/commit-msg"));
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "x", nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(at_head("Home"), "x");
}

TEST_F(WriteApiTest, KilledWriterJournalIsRepairedByTheNextWriter) {
  save("Home", "committed\n");
  // What a writer killed after publishing leaves: HEAD moved on, the file
  // and the index entry still old, and its record naming the page.
  const std::string blob = testutil::sh("printf 'newer\\n' | git -C " + testutil::shq(root_) +
                                        " hash-object -w --stdin");
  git("update-index --cacheinfo 100644," + blob.substr(0, blob.size() - 1) + ",pages/Home.wiki");
  const std::string tree = git("write-tree");
  git("update-index --cacheinfo 100644," + git("rev-parse HEAD:pages/Home.wiki").substr(0, 40) + ",pages/Home.wiki");
  const std::string commit = git("commit-tree -p HEAD -m killed " + tree.substr(0, tree.size() - 1));
  git("update-ref HEAD " + commit.substr(0, commit.size() - 1));
  const char *paths[] = {"pages/Home.wiki"};
  ASSERT_EQ(journal_begin(h_, 'T', paths, 1), 0);
  ASSERT_EQ(wikidb_save_page_if(h_, "Other", "o\n", nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(testutil::read_file(page_file("Home.wiki")), "newer\n");
  EXPECT_FALSE(testutil::exists(root_ + "/.git/wikidb-journal"));
  expect_clean_status();
}

}  // namespace

namespace {

TEST_F(WriteApiTest, LargeTextsAndManyPagesReachGitIntact) {
  std::string big;
  for (int i = 0; i < 30000; i++) big += "line " + std::to_string(i) + "\n";
  ASSERT_GT(big.size(), 200000u);
  ASSERT_EQ(wikidb_begin(h_), 0);
  ASSERT_EQ(wikidb_stage_save(h_, "Big", big.c_str(), ""), 0);
  for (int i = 0; i < 50; i++)
    ASSERT_EQ(wikidb_stage_save(h_, ("many/P" + std::to_string(i)).c_str(), "p", nullptr), 0);
  ASSERT_EQ(wikidb_commit(h_, nullptr, nullptr, 0), 0) << wikidb_last_error();
  EXPECT_EQ(at_head("Big"), big);
  EXPECT_EQ(git("ls-tree --name-only HEAD pages/many/ | wc -l"), "50\n");
  expect_clean_status();
}

}  // namespace

namespace {

// A person's git commit lands after the library built its commit and before
// it publishes it: the compare-and-swap fails and the commit is built again.
class RaceTest : public WriteApiTest {
 protected:
  void person_commits_during_build(const std::string &page) {
    mark_ = tmp_ / "raced";
    script_ = std::make_unique<testutil::FakeGit>(
        "\"$REAL_GIT\" \"$@\"; rc=$?\n"
        "case \" $* \" in *\" commit-tree \"*)\n"
        "  if [ ! -e " + testutil::shq(mark_) + " ]; then\n"
        "    touch " + testutil::shq(mark_) + "\n"
        "    cd " + testutil::shq(root_) + " && printf 'by a person\\n' > " +
        testutil::shq("pages/" + page + ".wiki") + " &&\n"
        "    \"$REAL_GIT\" add " + testutil::shq("pages/" + page + ".wiki") + " >/dev/null 2>&1 &&\n"
        "    \"$REAL_GIT\" -c user.name=P -c user.email=p@x commit -q -m person >/dev/null 2>&1\n"
        "  fi;;\n"
        "esac\n"
        "exit $rc\n");
  }
  std::string mark_;
  std::unique_ptr<testutil::FakeGit> script_;
};

TEST_F(RaceTest, CommitRebuiltOnAPersonsCommitToAnotherPage) {
  save("Home", "h\n");
  const std::string base = head();
  person_commits_during_build("Other");
  ASSERT_EQ(wikidb_save_page_if(h_, "Home", "h2\n", nullptr, nullptr, base.c_str(), 0), 0)
      << wikidb_last_error();
  script_.reset();
  ASSERT_TRUE(testutil::exists(mark_)) << "the person's commit never ran";
  EXPECT_EQ(git("log --format=%s -3"), "Update Home\nperson\nUpdate Home\n");
  EXPECT_EQ(at_head("Other"), "by a person\n");
  EXPECT_EQ(at_head("Home"), "h2\n");
  EXPECT_EQ(last(), head());
  expect_clean_status();
}

TEST_F(RaceTest, PersonsCommitToThePageItselfIsAConflict) {
  save("Home", "h\n");
  const std::string base = head();
  person_commits_during_build("Home");
  EXPECT_EQ(wikidb_save_page_if(h_, "Home", "mine\n", nullptr, nullptr, base.c_str(), 0),
            WIKIDB_CONFLICT);
  script_.reset();
  EXPECT_EQ(git("log -1 --format=%s"), "person\n");
  EXPECT_EQ(at_head("Home"), "by a person\n");
  json c = report()["conflicts"][0];
  EXPECT_EQ(c["current"], head());
  EXPECT_EQ(c["theirs"], "by a person\n");
  EXPECT_EQ(last(), "");
  expect_clean_status();
}

}  // namespace

namespace {

// The index cannot be written after the commit was published (another git
// holds it, here a git that refuses): the commit stands, the call says so,
// and the journal's repair brings the page in line at once.
TEST_F(WriteApiTest, PublishedCommitStandsWhenTheIndexCannotFollow) {
  save("Home", "old\n");
  {
    testutil::FakeGit refuse(
        "for a in \"$@\"; do [ \"$a\" = update-index ] && { echo busy >&2; exit 128; }; done\n"
        "exec \"$REAL_GIT\" \"$@\"\n");
    ASSERT_EQ(wikidb_save_page_if(h_, "Home", "new\n", nullptr, nullptr, nullptr, 0), 0)
        << wikidb_last_error();
  }
  EXPECT_EQ(last(), head());
  EXPECT_EQ(at_head("Home"), "new\n");
  EXPECT_EQ(testutil::read_file(page_file("Home.wiki")), "new\n");
  EXPECT_FALSE(testutil::exists(root_ + "/.git/wikidb-journal"));
  expect_clean_status();
}

}  // namespace
