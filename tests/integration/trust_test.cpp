// Writes that a link, a hostile author or title, a repository state the
// library did not make, a dead writer or a busy wiki must not turn into a
// lost, misattributed or misplaced edit.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "store/journal.h"
#include "store/writer_lock.h"
#include "testutil.h"
#include "wiki_fixture.h"
#include "wikidb.h"

using namespace testutil;
using json = nlohmann::json;

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Every file below dir, as "path:content" lines in a fixed order.
std::string snapshot(const std::string &dir) {
  return sh("cd " + shq(dir) + " && find . -type f | LC_ALL=C sort | while read f; do printf '%s:' \"$f\"; cat \"$f\"; echo; done");
}

// ---------------------------------------------------------------- links

// Page "a/b/c" committed twice; then one directory on its way (pages, a or
// b) becomes a link to a directory outside the wiki holding a file where
// the page would be.
struct LinkedWiki {
  TempDir dir;
  std::string root = dir / "wiki", outside = dir / "outside";
  wikidb_handle *h = nullptr;
  std::string first;

  explicit LinkedWiki(int level) {
    h = wikidb_open(root.c_str());
    if (!h || wikidb_save_page(h, "a/b/c", "one", nullptr, nullptr) != 0) return;
    first = trimmed(git(root, "rev-parse HEAD"));
    if (wikidb_save_page(h, "a/b/c", "two", nullptr, nullptr) != 0) return;
    const char *const levels[] = {"pages", "pages/a", "pages/a/b"};
    const std::string linked = root + "/" + levels[level];
    // The outside directory mirrors what lies below the linked one.
    std::string below = std::string("pages/a/b/c.wiki").substr(strlen(levels[level]) + 1);
    sh("mkdir -p " + shq(outside + "/" + below.substr(0, below.rfind('/') + 1)) + " && rm -rf " +
       shq(linked));
    write_file(outside + "/" + below, "outside");
    if (symlink(outside.c_str(), linked.c_str()) != 0) ADD_FAILURE() << "symlink " << linked;
  }
  ~LinkedWiki() { wikidb_close(h); }
};

TEST(Links, NoOperationReachesOutsideThroughALinkedDirectory) {
  for (int level = 0; level < 3; level++) {
    SCOPED_TRACE("link at level " + std::to_string(level));
    LinkedWiki w(level);
    ASSERT_NE(w.h, nullptr) << wikidb_last_error();
    ASSERT_FALSE(w.first.empty()) << wikidb_last_error();
    const std::string before = snapshot(w.outside);
    ASSERT_NE(before.find(":outside"), std::string::npos) << before;
    const std::string head = trimmed(git(w.root, "rev-parse HEAD"));

    EXPECT_EQ(wikidb_save_page(w.h, "a/b/c", "through", nullptr, nullptr), -1);
    EXPECT_EQ(std::string(wikidb_last_error()).rfind("Failed to open file for writing: ", 0), 0u)
        << wikidb_last_error();
    EXPECT_EQ(wikidb_save_page(w.h, "a/b/new", "through", nullptr, nullptr), -1);
    EXPECT_EQ(wikidb_delete_page(w.h, "a/b/c", nullptr, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page");
    EXPECT_EQ(wikidb_rollback(w.h, "a/b/c", w.first.c_str(), nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
    EXPECT_EQ(wikidb_get_page(w.h, "a/b/c"), nullptr);

    EXPECT_EQ(snapshot(w.outside), before) << "a file outside the wiki changed";
    EXPECT_EQ(trimmed(git(w.root, "rev-parse HEAD")), head) << "a refused write committed";
    EXPECT_EQ(git(w.root, "diff --cached --name-only"), "") << "a refused write staged";
    EXPECT_EQ(git(w.root, "ls-files"), "pages/a/b/c.wiki\n");
  }
}

// Another process keeps swapping a directory of the page for a link to the
// outside while saves, deletes and rollbacks run: whatever each call
// answers, nothing outside changes. Bounded by the number of calls.
TEST(Links, ASwapRacingTheWritesNeverReachesOutside) {
  enum { CALLS = 150 };
  TempDir dir;
  const std::string root = dir / "wiki", outside = dir / "outside";
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(wikidb_save_page(h, "a/b", "one", nullptr, nullptr), 0);
  const std::string first = trimmed(git(root, "rev-parse HEAD"));
  ASSERT_EQ(wikidb_save_page(h, "a/b", "two", nullptr, nullptr), 0);
  sh("mkdir -p " + shq(outside));
  write_file(outside + "/b.wiki", "outside");
  const std::string before = snapshot(outside);

  const std::string a = root + "/pages/a", real = root + "/pages/a.real";
  pid_t swapper = fork();
  if (swapper == 0) {
    // Each state lasts a moment, so that calls meet all of them.
    for (;;) {
      rename(a.c_str(), real.c_str());
      symlink(outside.c_str(), a.c_str());
      usleep(300);
      unlink(a.c_str());  // removes the link, never a directory
      rename(real.c_str(), a.c_str());
      usleep(3000);
    }
  }
  ASSERT_GT(swapper, 0);
  int refused = 0;
  for (int i = 0; i < CALLS; i++) {
    int rc;
    if (i % 3 == 0)
      rc = wikidb_rollback(h, "a/b", first.c_str(), nullptr);
    else if (i % 3 == 1)
      rc = wikidb_delete_page(h, "a/b", nullptr, nullptr);
    else
      rc = wikidb_save_page(h, "a/b", ("save " + std::to_string(i)).c_str(), nullptr, nullptr);
    if (rc != 0) refused++;
  }
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  wikidb_close(h);
  RecordProperty("refused", refused);
  EXPECT_LT(refused, (int)CALLS) << "no call met the directory in place";
  EXPECT_EQ(snapshot(outside), before) << "a file outside the wiki changed";
}

// A link planted as the page file itself is replaced or removed, never
// followed.
TEST(Links, ALinkInPlaceOfThePageIsNeverFollowed) {
  TempDir dir;
  const std::string root = dir / "wiki", target = dir / "target.txt";
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(wikidb_save_page(h, "p", "one", nullptr, nullptr), 0);
  const std::string first = trimmed(git(root, "rev-parse HEAD"));
  ASSERT_EQ(wikidb_save_page(h, "p", "two", nullptr, nullptr), 0);
  write_file(target, "keep");
  const std::string page = root + "/pages/p.wiki";
  ASSERT_EQ(unlink(page.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), page.c_str()), 0);
  EXPECT_EQ(wikidb_rollback(h, "p", first.c_str(), nullptr), -1);
  EXPECT_EQ(read_file(target), "keep");
  EXPECT_EQ(wikidb_delete_page(h, "p", nullptr, nullptr), 0) << wikidb_last_error();
  EXPECT_EQ(read_file(target), "keep");
  EXPECT_FALSE(exists(page));
  wikidb_close(h);
}

// ---------------------------------------------------------------- titles

class Titles : public WikiTest {};

TEST_F(Titles, TitlesGitRefusesAreRefusedBeforeAnythingIsWritten) {
  save("x", "page x");
  const std::string head_before = head();
  const std::string files_before = snapshot(root_ + "/pages");
  for (const char *bad : {"a/.git./b", "GIT~1/x", "a/git~1 /b", "a/.git::$INDEX_ALLOCATION/b",
                          "a/.g\xe2\x80\x8cit/b", "x.wiki/y"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(wikidb_save_page(h_, bad, "text", nullptr, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid title");
    EXPECT_EQ(wikidb_delete_page(h_, bad, nullptr, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page");
    EXPECT_EQ(wikidb_rollback(h_, bad, head_before.c_str(), nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_rollback");
    EXPECT_EQ(wikidb_get_page(h_, bad), nullptr);
  }
  EXPECT_EQ(snapshot(root_ + "/pages"), files_before);
  EXPECT_EQ(head(), head_before);
  EXPECT_EQ(json::parse(wikidb_list_pages_json(h_, nullptr)), json::array({"x"}));
  EXPECT_STREQ(wikidb_get_page(h_, "x"), "page x");
}

// ---------------------------------------------------------------- authors

class Authors : public WikiTest {
 protected:
  std::string ident(const char *fmt) { return trimmed(git(std::string("log -1 --format=") + fmt)); }
};

TEST_F(Authors, ALongBareNameNeverBecomesAnotherAuthor) {
  // A real author already in the history.
  write_file(root_ + "/pages/admin.wiki", "admin");
  git("add pages/admin.wiki");
  git("commit -q -m admin --author='Alice Admin <alice@corp.example>'");
  const std::string name = "Alice Admin\\|" + std::string(120, 'x');
  save("P", "text", name.c_str());
  EXPECT_EQ(ident("%s"), "Update P");
  EXPECT_NE(ident("%ae"), "alice@corp.example");
  EXPECT_EQ(ident("%an"), name.substr(0, 111));
  EXPECT_EQ(ident("%ae"), name.substr(0, 111) + "@users.quenlow-wikidb.invalid");
}

TEST_F(Authors, LongUtf8NamesAreCutAtACharacter) {
  std::string e;
  for (int i = 0; i < 150; i++) e += "\xc3\xa9";
  save("P", "text", (e + " <a@example.org>").c_str());
  EXPECT_EQ(ident("%ae"), "a@example.org");
  const std::string an = ident("%an");
  EXPECT_GE(an.size(), 236u);
  EXPECT_EQ(an, e.substr(0, an.size()));
  EXPECT_EQ(an.size() % 2, 0u);
  // Every report stays valid UTF-8 JSON.
  EXPECT_NO_THROW(json::parse(wikidb_get_history_json(h_, "P")));
  EXPECT_NO_THROW(json::parse(wikidb_get_recent_changes_json(h_, 5)));
}

TEST_F(Authors, ControlBytesAndStrayBracketsAreRefusedBeforeAnyWrite) {
  save("P", "old");
  const std::string before = head();
  for (const char *bad : {"Eve\x1f" "2001-01-01", "Eve\n<e@x>", "Eve <e@x", "Eve > e", "Eve <a> <b>",
                          "\x7f"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(wikidb_save_page(h_, "P", "new", bad, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid author");
    EXPECT_EQ(wikidb_delete_page(h_, "P", bad, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid author");
    EXPECT_EQ(wikidb_rollback(h_, "P", before.c_str(), bad), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid author");
  }
  EXPECT_EQ(read_file(page_file("P.wiki")), "old");
  EXPECT_EQ(head(), before);
}

// ---------------------------------------------------------------- states

class States : public WikiTest {
 protected:
  // Two branches that change page P differently; HEAD on the main one.
  void diverge() {
    save("P", "base\n");
    base_ = head();
    branch_ = trimmed(git("symbolic-ref --short HEAD"));
    git("checkout -q -b side");
    save("P", "side\n");
    side_ = head();
    git("checkout -q " + branch_);
    save("P", "main\n");
    main_ = head();
  }

  // Writes are refused with message, touching nothing; reads work.
  void writes_refused(const std::string &message) {
    const std::string before = head(), text = read_file(page_file("P.wiki"));
    const std::string index = git("ls-files -s");
    EXPECT_EQ(wikidb_save_page(h_, "P", "mine", nullptr, nullptr), -1);
    EXPECT_EQ(wikidb_last_error(), message);
    EXPECT_EQ(wikidb_save_page(h_, "Other", "mine", nullptr, nullptr), -1);
    EXPECT_EQ(wikidb_last_error(), message);
    EXPECT_EQ(wikidb_delete_page(h_, "P", nullptr, nullptr), -1);
    EXPECT_EQ(wikidb_last_error(), message);
    EXPECT_EQ(wikidb_rollback(h_, "P", base_.c_str(), nullptr), -1);
    EXPECT_EQ(wikidb_last_error(), message);
    EXPECT_EQ(head(), before);
    EXPECT_EQ(read_file(page_file("P.wiki")), text);
    EXPECT_FALSE(exists(page_file("Other.wiki")));
    EXPECT_EQ(git("ls-files -s"), index);
    ASSERT_NE(wikidb_get_page(h_, "P"), nullptr);
    EXPECT_GE(json::parse(wikidb_get_history_json(h_, "P")).size(), 2u);
    EXPECT_FALSE(json::parse(wikidb_list_pages_json(h_, nullptr)).empty());
    EXPECT_NE(wikidb_get_revision(h_, "P", base_.c_str()), nullptr);
  }

  std::string base_, side_, main_, branch_;
};

TEST_F(States, ConflictedMerge) {
  diverge();
  git("merge side >/dev/null 2>&1");
  ASSERT_TRUE(exists(root_ + "/.git/MERGE_HEAD"));
  writes_refused("Wiki repository is in the middle of a merge");
}

TEST_F(States, ConflictedRebase) {
  diverge();
  git("rebase side >/dev/null 2>&1");
  ASSERT_TRUE(is_dir(root_ + "/.git/rebase-merge") || is_dir(root_ + "/.git/rebase-apply"));
  writes_refused("Wiki repository is in the middle of a rebase");
}

TEST_F(States, ConflictedCherryPick) {
  diverge();
  git("cherry-pick " + side_ + " >/dev/null 2>&1");
  ASSERT_TRUE(exists(root_ + "/.git/CHERRY_PICK_HEAD"));
  writes_refused("Wiki repository is in the middle of a cherry-pick");
}

TEST_F(States, ConflictedRevert) {
  save("P", "base\n");
  base_ = head();
  save("P", "one\n");
  const std::string one = head();
  save("P", "two\n");
  git("revert --no-edit " + one + " >/dev/null 2>&1");
  ASSERT_TRUE(exists(root_ + "/.git/REVERT_HEAD"));
  writes_refused("Wiki repository is in the middle of a revert");
}

TEST_F(States, DetachedHead) {
  save("P", "base\n");
  base_ = head();
  save("P", "two\n");
  git("checkout -q --detach");
  writes_refused("Wiki repository has a detached HEAD");
  // Back on the branch, writing works again.
  git("checkout -q -");
  save("P", "three\n");
}

TEST(Open, ABareRepositoryIsNoWikiRoot) {
  TempDir dir;
  const std::string root = dir / "bare.git";
  git(dir.path(), "init -q --bare " + shq(root));
  const std::string before = sh("ls -A " + shq(root));
  EXPECT_EQ(wikidb_open(root.c_str()), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Wiki root is a bare repository");
  EXPECT_EQ(sh("ls -A " + shq(root)), before) << "nothing is created inside it";
}

// ---------------------------------------------------------------- locks

class Locks : public WikiTest {
 protected:
  void TearDown() override {
    writer_set_wait_limits_ms(WRITER_LOCK_WAIT_MS, GIT_LOCK_WAIT_MS, DEAD_LOCK_GRACE_MS);
    WikiTest::TearDown();
  }
};

TEST_F(Locks, AWriterHoldingTheLockMakesTheNextOneBusyNotStuck) {
  save("P", "old");
  const std::string lock = root_ + "/.git/wikidb.lock";
  int fd = open(lock.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  // Nobody releases it during the call: a short wait shows the same answer.
  writer_set_wait_limits_ms(200, -1, -1);
  EXPECT_EQ(wikidb_save_page(h_, "P", "new", nullptr, nullptr), -1);
  EXPECT_EQ(wikidb_last_error(), "Wiki is busy: " + lock + " is locked by another writer");
  EXPECT_EQ(read_file(page_file("P.wiki")), "old");
  close(fd);
  save("P", "new");
}

TEST_F(Locks, ADeadWritersStagedPageAndLocksAreCleared) {
  save("A", "committed");
  save("Host", "host one");
  writer_set_wait_limits_ms(-1, -1, 50);
  // A writer that died after staging A, leaving git's locks behind ...
  const char *paths[] = {"pages/A.wiki"};
  ASSERT_EQ(journal_begin(h_, 'I', paths, 1), 0);
  write_file(page_file("A.wiki"), "debris");
  git("add pages/A.wiki");
  // ... while the host had staged a change of its own on purpose ...
  write_file(page_file("Host.wiki"), "host two");
  git("add pages/Host.wiki");
  // ... and git's locks left behind.
  write_file(root_ + "/.git/index.lock", "");
  write_file(root_ + "/.git/HEAD.lock", "");

  save("B", "next writer", "Bob <bob@example.org>", "bob's save");
  EXPECT_EQ(git("show --name-only --format=%an%n%s HEAD"),
            "Bob\nbob's save\n\npages/B.wiki\npages/Host.wiki\n");
  EXPECT_EQ(git("show HEAD:pages/A.wiki"), "committed");
  EXPECT_EQ(read_file(page_file("A.wiki")), "debris") << "the file stays as it was";
  EXPECT_EQ(git("diff --cached --name-only"), "");
  EXPECT_FALSE(exists(root_ + "/.git/index.lock"));
  EXPECT_FALSE(exists(root_ + "/.git/HEAD.lock"));
  EXPECT_FALSE(exists(root_ + "/.git/wikidb-journal"));
}

TEST_F(Locks, ADeadWriterThatPublishedFirstHasFilesAndIndexBroughtToHead) {
  save("A", "committed");
  writer_set_wait_limits_ms(-1, -1, 50);
  const char *paths[] = {"pages/A.wiki", "pages/dir/New.wiki"};
  ASSERT_EQ(journal_begin(h_, 'T', paths, 2), 0);
  write_file(page_file("A.wiki"), "half done");
  ASSERT_EQ(mkdir(page_file("dir").c_str(), 0755), 0);
  write_file(page_file("dir/New.wiki"), "not in HEAD");
  git("add pages/A.wiki pages/dir/New.wiki");
  ASSERT_EQ(git("diff --cached --name-only"), "pages/A.wiki\npages/dir/New.wiki\n");

  EXPECT_NE(wikidb_get_page(h_, "A"), nullptr) << "reads do not repair";
  save("B", "next");
  EXPECT_EQ(read_file(page_file("A.wiki")), "committed");
  EXPECT_FALSE(exists(page_file("dir/New.wiki")));
  EXPECT_EQ(git("show --name-only --format= HEAD"), "pages/B.wiki\n");
  EXPECT_EQ(git("status --porcelain"), "");
}

// A writer killed between writing a page's text and renaming it into place
// leaves its temporary file beside the page; the repair removes exactly
// those, and reaches them without following a link.
TEST_F(Locks, ADeadWritersTemporaryFilesGoWithTheRepairAndNothingElse) {
  save("dir/A", "committed");
  save("B", "b");
  writer_set_wait_limits_ms(-1, -1, 50);
  TempDir outside;
  write_file(outside / ".wikidb-7-1.tmp", "not ours");
  ASSERT_EQ(symlink(outside.path().c_str(), page_file("link").c_str()), 0);
  const char *paths[] = {"pages/dir/A.wiki", "pages/link/L.wiki", "pages/B.wiki"};
  ASSERT_EQ(journal_begin(h_, 'T', paths, 3), 0);
  for (const char *name : {"dir/.wikidb-4242-0.tmp", "dir/.wikidb-4242-17.tmp", ".wikidb-9-3.tmp"})
    write_file(page_file(name), "half written");
  // Names that are not the writer's temporary files stay.
  for (const char *name : {"dir/.wikidb-x-1.tmp", "dir/.wikidb-1-2.tmp.keep", "dir/keep.tmp"})
    write_file(page_file(name), "someone's");
  save("C", "next");
  EXPECT_FALSE(exists(page_file("dir/.wikidb-4242-0.tmp")));
  EXPECT_FALSE(exists(page_file("dir/.wikidb-4242-17.tmp")));
  EXPECT_FALSE(exists(page_file(".wikidb-9-3.tmp")));
  for (const char *name : {"dir/.wikidb-x-1.tmp", "dir/.wikidb-1-2.tmp.keep", "dir/keep.tmp"})
    EXPECT_TRUE(exists(page_file(name))) << name;
  EXPECT_TRUE(exists(outside / ".wikidb-7-1.tmp")) << "a link was followed";
  EXPECT_FALSE(exists(root_ + "/.git/wikidb-journal"));
}

TEST_F(Locks, AFailedCommitTakesItsPageBackOutOfTheIndex) {
  save("A", "committed");
  const std::string hook = root_ + "/.git/hooks/pre-commit";
  write_file(hook, "#!/bin/sh\nexit 1\n");
  chmod(hook.c_str(), 0755);
  EXPECT_EQ(wikidb_save_page(h_, "A", "refused", nullptr, nullptr), -1);
  EXPECT_EQ(wikidb_delete_page(h_, "A", nullptr, nullptr), -1);
  unlink(hook.c_str());
  EXPECT_EQ(git("diff --cached --name-only"), "");
  save("B", "next", "Bob <bob@example.org>");
  EXPECT_EQ(git("show --name-only --format= HEAD"), "pages/B.wiki\n");
  EXPECT_EQ(git("show HEAD:pages/A.wiki"), "committed");
}

// Eight processes open one wiki at once: each open writes the settings
// under the writer lock and none is left with an error.
TEST_F(Locks, ConcurrentOpensLeaveNoFalseError) {
  enum { OPENERS = 8 };
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> kids;
  for (int i = 0; i < OPENERS; i++) {
    pid_t pid = fork();
    if (pid == 0) {
      close(start[1]);
      char c;
      while (read(start[0], &c, 1) < 0) {
      }
      wikidb_handle *h = wikidb_open(root_.c_str());
      const std::string error = h ? wikidb_last_error() : "open failed";
      write_file(tmp_ / ("error-" + std::to_string(i)), error);
      wikidb_close(h);
      _exit(0);
    }
    kids.push_back(pid);
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : kids) {
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  for (int i = 0; i < OPENERS; i++) EXPECT_EQ(read_file(tmp_ / ("error-" + std::to_string(i))), "") << i;
  EXPECT_EQ(git("config core.quotepath"), "false\n");
}

}  // namespace
