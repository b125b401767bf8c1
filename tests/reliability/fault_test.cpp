// Every exported function run against broken git executables: each must
// return its documented failure value with the documented message, and leave
// no descriptor or child process behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "fault_support.h"
#include "git/runner.h"
#include "store/writer_lock.h"
#include "wikidb.h"

using namespace testutil;
using namespace faults;

namespace {

struct Expect {
  std::string message;  // what every failing git run leaves in the slot
  std::string diff;     // what the diff returns: whatever git printed
};

// Runs all thirteen functions with the fault in place.
void every_function_fails_as_documented(Wiki &w, const Expect &e) {
  EXPECT_STREQ(wikidb_version(), WIKIDB_VERSION_TEXT);

  const std::string fresh = w.dir / "fresh";
  EXPECT_EQ(wikidb_open(fresh.c_str()), nullptr) << "init cannot have succeeded";
  EXPECT_EQ(wikidb_last_error(), e.message) << "open of a new wiki";

  wikidb_handle *again = wikidb_open(w.root.c_str());
  EXPECT_NE(again, nullptr) << "failed settings do not fail the open";
  EXPECT_EQ(wikidb_last_error(), e.message) << "the failed setting's message stays";
  wikidb_close(again);
  EXPECT_EQ(wikidb_last_error(), e.message) << "close leaves the message alone";

  EXPECT_EQ(wikidb_save_page(w.h, "Alpha", "third\n", "Bob", "three"), -1);
  EXPECT_EQ(wikidb_last_error(), e.message) << "save";

  const char *page = wikidb_get_page(w.h, "Alpha");  // needs no git
  ASSERT_NE(page, nullptr);
  EXPECT_STREQ(page, "third\n") << "a failed save does not undo its write";
  EXPECT_STREQ(wikidb_last_error(), "");

  EXPECT_EQ(wikidb_get_revision(w.h, "Alpha", w.c1.c_str()), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "revision";
  EXPECT_STREQ(w.old_revision, "first\n") << "the previous revision stays valid";

  const char *diff = wikidb_get_diff(w.h, "Alpha", w.c1.c_str(), w.c2.c_str());
  ASSERT_NE(diff, nullptr);
  EXPECT_EQ(diff, e.diff);
  EXPECT_STREQ(wikidb_last_error(), "") << "a diff reports no error";

  EXPECT_EQ(wikidb_rollback(w.h, "Alpha", w.c1.c_str(), "Bob"), -1);
  EXPECT_EQ(wikidb_last_error(), e.message) << "rollback";

  EXPECT_EQ(wikidb_delete_page(w.h, "Alpha", "Bob", nullptr), -1);
  EXPECT_EQ(wikidb_last_error(), e.message) << "delete";

  EXPECT_STREQ(wikidb_list_pages_json(w.h, nullptr), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_history_json(w.h, "Alpha"), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_history_json(w.h, nullptr), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_STREQ(wikidb_get_recent_changes_json(w.h, 10), "[]");
  EXPECT_STREQ(wikidb_last_error(), "");

  // The paged reads fail, with git's complaint as the message.
  EXPECT_EQ(wikidb_history_page_json(w.h, "Alpha", nullptr, 0, nullptr, nullptr, nullptr, WIKIDB_FOLLOW), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "history page";
  EXPECT_EQ(wikidb_history_page_json(w.h, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "wiki history page";
  EXPECT_EQ(wikidb_recent_page_json(w.h, nullptr, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "recent page";
  EXPECT_EQ(wikidb_search_json(w.h, "first", 0, 0), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "search";
  EXPECT_EQ(wikidb_deleted_pages_json(w.h), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "deleted pages";
  EXPECT_EQ(wikidb_blame_json(w.h, "Alpha", nullptr), nullptr);
  EXPECT_EQ(wikidb_last_error(), e.message) << "blame";
}

class Faults : public LeakCounted {
 protected:
  // One failing git for every command: prints output, then ends with status.
  // A wait limit, when given, holds only for the fake git: the real git
  // that makes the wiki must never be cut short by a busy machine.
  void run_scenario(const std::string &script, int status, const std::string &output,
                    int wait_limit_ms = 0) {
    Wiki w;
    FakeGit fake(script);
    if (wait_limit_ms) run_git_set_wait_limit_ms(wait_limit_ms);
    every_function_fails_as_documented(w, {runner_failure(status, output), output});
  }
};

TEST_F(Faults, ExitWithStatusAndMessage) {
  run_scenario("printf 'fatal: injected failure\\n' >&2; exit 128", 128,
               "fatal: injected failure\n");
}

TEST_F(Faults, ExitWithStatusAndNoOutput) { run_scenario("exit 3", 3, ""); }

TEST_F(Faults, DeathBySignal) {
  run_scenario("printf 'about to die\\n'; kill -KILL $$", 128 + 9, "about to die\n");
  run_scenario("printf 'terminated\\n' >&2; kill -TERM $$", 128 + 15, "terminated\n");
}

TEST_F(Faults, MoreThanOneMebibyteOnStderrThenFailure) {
  // The slot keeps the first 2047 bytes; the diff hands all of it back.
  run_scenario("head -c 1100000 /dev/zero | tr '\\0' e >&2; exit 1", 1,
               std::string(1100000, 'e'));
}

TEST_F(Faults, OutputHeldOpenForAWhile) {
  // By git itself, then by a grandchild that outlives git.
  run_scenario("printf 'fatal: slow\\n' >&2; sleep 0.1; exit 128", 128, "fatal: slow\n");
  run_scenario("(sleep 0.1) & printf 'fatal: left a child\\n' >&2; exit 128", 128,
               "fatal: left a child\n");
}

TEST_F(Faults, HungAfterClosingItsOutputIsKilledAndReaped) {
  run_scenario("printf 'fatal: hung\\n'; exec >/dev/null 2>&1; exec sleep 60", 259,
               "fatal: hung\n", 100);
}

TEST_F(Faults, MissingGit) {
  Wiki w;
  NoGit none;
  every_function_fails_as_documented(w, {"CreateProcessA for git failed: 2", ""});
}

TEST_F(Faults, GitIsADirectory) {
  Wiki w;
  TempDir bin;
  sh("mkdir " + shq(bin / "git"));
  const char *path = getenv("PATH");
  const std::string old = path ? path : "";
  setenv("PATH", bin.path().c_str(), 1);
  every_function_fails_as_documented(w, {"CreateProcessA for git failed: 13", ""});
  setenv("PATH", old.c_str(), 1);
}

// Someone else's git holds the index for longer than the writers wait: the
// writers fail as busy before touching the page, and none reports a change
// it did not make.
TEST_F(Faults, ForeignIndexLockOutlastsTheWait) {
  Wiki w;
  const std::string lock = w.root + "/.git/index.lock";
  write_file(lock, "");
  // Nobody releases this lock: a short wait shows the same refusal.
  writer_set_wait_limits_ms(-1, 500, -1);

  EXPECT_EQ(wikidb_save_page(w.h, "Alpha", "third\n", "Bob", nullptr), -1);
  EXPECT_EQ(std::string(wikidb_last_error()),
            "Wiki is busy: " + lock + " is locked by another git process");

  EXPECT_EQ(wikidb_delete_page(w.h, "Alpha", "Bob", nullptr), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("index.lock"), std::string::npos)
      << wikidb_last_error();

  EXPECT_EQ(wikidb_rollback(w.h, "Alpha", w.c1.c_str(), "Bob"), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("index.lock"), std::string::npos)
      << wikidb_last_error();

  writer_set_wait_limits_ms(-1, GIT_LOCK_WAIT_MS, -1);
  EXPECT_EQ(read_file(w.root + "/pages/Alpha.wiki"), "second\n") << "page file untouched";
  unlink(lock.c_str());
  EXPECT_EQ(trimmed(git(w.root, "rev-parse HEAD")), w.c2) << "nothing was committed";
  EXPECT_EQ(git(w.root, "ls-files pages"), "pages/Alpha.wiki\n") << "Alpha is still tracked";
}

}  // namespace
