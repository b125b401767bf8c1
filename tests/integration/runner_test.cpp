#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/utsname.h>
#include <time.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "frame/error.h"
#include "git/runner.h"
#include "git/spawn.h"
#include "testutil.h"
#include "wikidb.h"

using testutil::FakeGit;
using testutil::TempDir;

namespace {

struct GitRun {
  int rc;
  char *out;
  std::string text() const { return out ? out : ""; }
};

GitRun run(const std::string &root, std::initializer_list<const char *> words) {
  std::vector<const char *> args(words);
  args.push_back(nullptr);
  GitRun r{0, nullptr};
  r.rc = run_git(root.c_str(), args.data(), &r.out);
  return r;
}

class RunnerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    run_git_set_wait_limit_ms(30000);
    clear_error();
  }
  TempDir tmp_;
};

TEST_F(RunnerTest, RealGitSuccessAndFailure) {
  GitRun ok = run(tmp_.path(), {"init", "-q"});
  EXPECT_EQ(ok.rc, 0);
  EXPECT_EQ(ok.out, nullptr);  // printed nothing
  EXPECT_STREQ(wikidb_last_error(), "");

  GitRun bad = run(tmp_.path(), {"rev-parse", "--verify", "no-such-rev"});
  EXPECT_NE(bad.rc, 0);
  ASSERT_NE(bad.out, nullptr);
  EXPECT_EQ(std::string(wikidb_last_error()),
            "git command failed (exit code " + std::to_string(bad.rc) + "): " + bad.text());
  free(bad.out);
}

TEST_F(RunnerTest, FailureHandsOverTheTextAndNamesTheStatus) {
  FakeGit fake("printf 'bad thing\\n'; exit 1");
  GitRun r = run(tmp_.path(), {"status"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.text(), "bad thing\n");
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 1): bad thing\n");
  free(r.out);

  // The same failure without asking for the text.
  std::vector<const char *> args = {"status", nullptr};
  EXPECT_EQ(run_git(tmp_.path().c_str(), args.data(), nullptr), 1);
}

TEST_F(RunnerTest, StderrJoinsStdoutInOrder) {
  FakeGit fake("echo one; echo two >&2; echo three");
  GitRun r = run(tmp_.path(), {"x"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.text(), "one\ntwo\nthree\n");
  free(r.out);
}

TEST_F(RunnerTest, ArgumentsArriveUnchanged) {
  // The fake prints each argument it got, NUL-separated, so any byte shows.
  FakeGit fake("for a in \"$@\"; do printf '%s|' \"$a\"; done");
  const char *nasty = "a \"b\" \\c\\ \t\nd";
  GitRun r = run("/root dir/with space", {"log", "", nasty, "--", "pages/x y.wiki"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.text(), std::string("--no-pager|-C|/root dir/with space|log||") + nasty +
                          "|--|pages/x y.wiki|");
  free(r.out);
}

TEST_F(RunnerTest, OutputWithZeroByteAndLargerThanThePipe) {
  FakeGit fake("printf 'ab\\000cd'; exit 3");
  GitRun r = run(tmp_.path(), {"x"});
  EXPECT_EQ(r.rc, 3);
  EXPECT_STREQ(r.out, "ab");  // a reader of the text sees it end at the 0 byte
  EXPECT_EQ(memcmp(r.out, "ab\0cd", 6), 0);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 3): ab");
  free(r.out);

  FakeGit big("head -c 3000000 /dev/zero | tr '\\000' 'z'; head -c 500000 /dev/zero | tr '\\000' 'e' >&2");
  GitRun b = run(tmp_.path(), {"x"});
  EXPECT_EQ(b.rc, 0);
  ASSERT_NE(b.out, nullptr);
  EXPECT_EQ(strlen(b.out), 3500000u);
  free(b.out);
}

TEST_F(RunnerTest, MissingGitIsReportedWithTheSystemCode) {
  testutil::NoGit none;
  GitRun r = run(tmp_.path(), {"status"});
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.out, nullptr);
  EXPECT_STREQ(wikidb_last_error(), "CreateProcessA for git failed: 2");
}

TEST_F(RunnerTest, GitGetsEmptyStdinNoHostDescriptorsAndNoRedirectingVariables) {
  FakeGit fake(
      "read line; echo \"stdin=$?\"; ls /proc/self/fd | sort -n | tr '\\n' ' '; echo;"
      "echo \"dir=${GIT_DIR-unset} wt=${GIT_WORK_TREE-unset} idx=${GIT_INDEX_FILE-unset}\";"
      "echo \"keep=${WIKIDB_TEST_KEEP-unset}\"");
  int leaked = open("/dev/null", O_RDONLY);  // a host descriptor without close-on-exec
  ASSERT_GE(leaked, 0);
  setenv("GIT_DIR", "/elsewhere/.git", 1);
  setenv("GIT_WORK_TREE", "/elsewhere", 1);
  setenv("GIT_INDEX_FILE", "/elsewhere/index", 1);
  setenv("WIKIDB_TEST_KEEP", "yes", 1);
  GitRun r = run(tmp_.path(), {"x"});
  unsetenv("GIT_DIR");
  unsetenv("GIT_WORK_TREE");
  unsetenv("GIT_INDEX_FILE");
  unsetenv("WIKIDB_TEST_KEEP");
  close(leaked);
  EXPECT_EQ(r.rc, 0);
  // read fails at once on the null device; only 0, 1, 2 and ls's own
  // directory descriptor are open.
  EXPECT_EQ(r.text(), "stdin=1\n0 1 2 3 \ndir=unset wt=unset idx=unset\nkeep=yes\n");
  free(r.out);
}

TEST_F(RunnerTest, RedirectingVariablesCannotMoveCommitsToAnotherRepository) {
  TempDir other;
  ASSERT_EQ(run(tmp_.path(), {"init", "-q"}).rc, 0);
  testutil::git(other.path(), "init -q");
  setenv("GIT_DIR", (other.path() + "/.git").c_str(), 1);
  wikidb_handle *h = wikidb_open(tmp_.path().c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(wikidb_save_page(h, "P", "text", nullptr, nullptr), 0) << wikidb_last_error();
  unsetenv("GIT_DIR");
  wikidb_close(h);
  EXPECT_EQ(testutil::git(tmp_.path(), "log --format=%s"), "Update P\n");
  int st = 0;
  testutil::git(other.path(), "rev-parse -q --verify HEAD", &st);
  EXPECT_NE(st, 0);  // the other repository got no commit
}

TEST_F(RunnerTest, StandardInputIsFedWhileOutputIsRead) {
  // More than both pipe buffers in each direction: a runner that wrote all
  // input before reading would deadlock here.
  std::string input;
  for (int i = 0; i < 200000; i++) input += "line " + std::to_string(i) + "\n";
  std::vector<const char *> args = {"x", nullptr};
  FakeGit fake("cat");
  char *out = nullptr;
  EXPECT_EQ(run_git_input(tmp_.path().c_str(), args.data(), input.data(), input.size(), &out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::string(out), input);
  free(out);

  // A git that stops reading early must not take the host down (SIGPIPE).
  FakeGit early("head -c 10 >/dev/null; echo done");
  out = nullptr;
  EXPECT_EQ(run_git_input(tmp_.path().c_str(), args.data(), input.data(), input.size(), &out), 0);
  EXPECT_STREQ(out, "done\n");
  free(out);
}

TEST_F(RunnerTest, CallKeepsStandardErrorApartAndSetsExtraEnvironment) {
  // The fake prints a variable the host set, one the call replaces, and one
  // the host's git environment never passes on, then complains on stderr.
  FakeGit fake("printf '%s|%s|%s' \"$WIKIDB_T_HOST\" \"$WIKIDB_T_OVER\" \"$GIT_INDEX_FILE\"; "
               "echo 'bad revision' >&2; exit 3");
  testutil::ScopedEnv host("WIKIDB_T_HOST", "h");
  testutil::ScopedEnv over("WIKIDB_T_OVER", "host");
  testutil::ScopedEnv index("GIT_INDEX_FILE", "/host/index");
  const char *args[] = {"x", nullptr};
  const char *env[] = {"WIKIDB_T_OVER=call", "GIT_INDEX_FILE=/private/index", nullptr};
  git_call call = {args, nullptr, 0, env, true};
  git_output res;
  EXPECT_EQ(run_git_call(tmp_.path().c_str(), &call, &res), 3);
  ASSERT_NE(res.out, nullptr);
  EXPECT_EQ(std::string(res.out, res.out_len), "h|call|/private/index");
  ASSERT_NE(res.err, nullptr);
  EXPECT_EQ(std::string(res.err, res.err_len), "bad revision\n");
  // The failure names what git said on standard error, not its output.
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 3): bad revision\n");
  git_output_release(&res);

  // Joined, as run_git gives it; without extra entries the host's index
  // variable is still kept from git.
  call = {args, nullptr, 0, nullptr, false};
  EXPECT_EQ(run_git_call(tmp_.path().c_str(), &call, &res), 3);
  EXPECT_EQ(std::string(res.out, res.out_len), "h|host|bad revision\n");
  EXPECT_EQ(res.err, nullptr);
  git_output_release(&res);
}

TEST_F(RunnerTest, GitStillRunningAfterTheWaitIsEndedAndReaped) {
  // Closes its output at once, then lingers with the repository "busy".
  FakeGit fake("echo started; exec >/dev/null 2>&1; sleep 30");
  run_git_set_wait_limit_ms(300);
  const int children = testutil::child_process_count();
  GitRun r = run(tmp_.path(), {"x"});
  EXPECT_EQ(r.rc, 259);
  EXPECT_EQ(r.text(), "started\n");
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 259): started\n");
  EXPECT_EQ(testutil::child_process_count(), children);  // no zombie, no orphan of ours
  free(r.out);
}

TEST_F(RunnerTest, GitExitingAfterClosingItsOutputGivesItsStatus) {
  // The wait for the exit must end at the exit, with its real status.
  FakeGit fake("echo closing; exec >/dev/null 2>&1; sleep 0.3; exit 3");
  GitRun r = run(tmp_.path(), {"x"});
  EXPECT_EQ(r.rc, 3);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 3): closing\n");
  free(r.out);
}

TEST_F(RunnerTest, HostIgnoringChildSignalsNeverTurnsAFailureIntoSuccess) {
  // The system then reaps git itself. Through the process descriptor the
  // status is still there (on kernels that keep it); without one it is
  // lost, and that is a failure of its own, never success.
  FakeGit fake("echo refused; exit 3");
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  struct utsname u;
  int major = 0, minor = 0;
  const bool kept = uname(&u) == 0 && sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
                    (major > 6 || (major == 6 && minor >= 15));
  for (bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable start" : "start with a process descriptor");
    spawn_use_portable_start(portable);
    const int children = testutil::child_process_count();
    sigaction(SIGCHLD, &ignore, &old);
    GitRun r = run(tmp_.path(), {"x"});
    sigaction(SIGCHLD, &old, nullptr);
    spawn_use_portable_start(false);
    if (!portable && kept) {
      EXPECT_EQ(r.rc, 3);
      EXPECT_EQ(r.text(), "refused\n");
      EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 3): refused\n");
    } else {
      EXPECT_EQ(r.rc, -1);
      EXPECT_EQ(r.out, nullptr);
      EXPECT_STREQ(wikidb_last_error(),
                   "Exit status of git was lost: the host reaps child processes it did not start "
                   "or ignores SIGCHLD");
    }
    EXPECT_EQ(testutil::child_process_count(), children);
    free(r.out);
  }
}

TEST_F(RunnerTest, EverythingGitWroteIsReadEvenWithoutGrace) {
  // git writes more than a pipe holds on both outputs, exits, and a child
  // keeps the pipes open. Without any grace, what git wrote must still
  // arrive whole: at its exit it is all in the pipes.
  const std::string pid_file = tmp_.path() + "/pid";
  testutil::write_file(tmp_.path() + "/o", std::string(3000000, 'o'));
  testutil::write_file(tmp_.path() + "/e", std::string(2000000, 'e'));
  FakeGit fake("sleep 40 & echo $! > " + testutil::shq(pid_file) + "; cd " + testutil::shq(tmp_.path()) +
               " && exec cat o e >&2 o");
  spawn_set_drain_grace_ms(0);
  const char *args[] = {"x", nullptr};
  git_call call = {args, nullptr, 0, nullptr, true};
  git_output res;
  int rc = run_git_call(tmp_.path().c_str(), &call, &res);
  spawn_set_drain_grace_ms(SPAWN_DRAIN_GRACE_MS);
  testutil::sh("kill $(cat " + testutil::shq(pid_file) + ") 2>/dev/null");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(res.out_len, 0u);
  EXPECT_EQ(res.err_len, 8000000u);
  git_output_release(&res);
}

TEST_F(RunnerTest, GitHangingWithItsOutputOpenIsKilledAtTheRunLimit) {
  // A hook that never returns: git neither exits nor closes its output.
  FakeGit fake("echo started; exec sleep 60");
  spawn_set_run_limit_ms(300);
  const int children = testutil::child_process_count();
  GitRun r = run(tmp_.path(), {"x"});
  spawn_set_run_limit_ms(SPAWN_RUN_LIMIT_MS);
  EXPECT_EQ(r.rc, SPAWN_STILL_ACTIVE);
  EXPECT_EQ(r.text(), "started\n");
  EXPECT_EQ(std::string(wikidb_last_error()), "git command failed (exit code 259): started\n");
  EXPECT_EQ(testutil::child_process_count(), children);  // killed and reaped
  free(r.out);
}

TEST_F(RunnerTest, ChildLeftHoldingTheOutputDoesNotHoldTheRun) {
  // git exits at once; what it started keeps both outputs open for 40 s.
  const std::string pid_file = tmp_.path() + "/pid";
  FakeGit fake("sleep 40 & echo $! > " + testutil::shq(pid_file) +
               "; echo out; echo err >&2; exit 4");
  for (bool split : {false, true}) {
    const char *args[] = {"x", nullptr};
    git_call call = {args, nullptr, 0, nullptr, split};
    git_output res;
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int rc = run_git_call(tmp_.path().c_str(), &call, &res);
    clock_gettime(CLOCK_MONOTONIC, &end);
    testutil::sh("kill $(cat " + testutil::shq(pid_file) + ") 2>/dev/null");
    EXPECT_EQ(rc, 4);
    EXPECT_EQ(std::string(res.out ? res.out : ""), split ? "out\n" : "out\nerr\n");
    EXPECT_EQ(std::string(res.err ? res.err : ""), split ? "err\n" : "");
    // Held for the child's 40 s before; a bound far below that and far
    // above a busy machine's few seconds.
    EXPECT_LT(end.tv_sec - start.tv_sec, 30);
    git_output_release(&res);
  }
}

TEST_F(RunnerTest, DeathBySignalIsAFailure) {
  FakeGit fake("echo dying; kill -9 $$");
  GitRun r = run(tmp_.path(), {"x"});
  EXPECT_EQ(r.rc, 128 + 9);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 137): dying\n");
  free(r.out);
}

}  // namespace
