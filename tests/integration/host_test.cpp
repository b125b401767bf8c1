// What the host process may do around the library without changing its
// results: ignore or reap child signals, leave hooks' children running,
// set git variables in its environment, or configure git its own way.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "frame/error.h"
#include "git/runner.h"
#include "git/spawn.h"
#include "testutil.h"
#include "wiki_fixture.h"

using testutil::ScopedEnv;
using testutil::shq;

namespace {

const char kLost[] =
    "Exit status of git was lost: the host reaps child processes it did not start or ignores "
    "SIGCHLD";

// Whether the kernel keeps an ended child's status for its process
// descriptor (Linux 6.15 on), which lets git's status survive a host that
// ignores SIGCHLD.
bool kernel_keeps_exit_status() {
  struct utsname u;
  if (uname(&u) != 0) return false;
  int major = 0, minor = 0;
  if (sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
  return major > 6 || (major == 6 && minor >= 15);
}

double seconds_since(const timespec &start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) / 1e9;
}

// The host's SIGCHLD disposition for a scope.
class ChildSignal {
 public:
  explicit ChildSignal(void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigaction(SIGCHLD, &sa, &old_);
  }
  ~ChildSignal() { sigaction(SIGCHLD, &old_, nullptr); }

 private:
  struct sigaction old_;
};

// A host that reaps every child it is told about, as many servers do.
void reap_everything(int) {
  int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

class HostTest : public WikiTest {
 protected:
  void TearDown() override {
    spawn_use_portable_start(false);
    WikiTest::TearDown();
  }
  void hook(const std::string &name, const std::string &body) {
    const std::string path = root_ + "/.git/hooks/" + name;
    testutil::write_file(path, "#!/bin/sh\n" + body + "\n");
    testutil::sh("chmod +x " + shq(path));
  }
  // The commit body exactly as git stored it.
  std::string message_of(const std::string &rev) {
    std::string raw = git("cat-file commit " + rev);
    size_t at = raw.find("\n\n");
    return at == std::string::npos ? "" : raw.substr(at + 2);
  }
  std::string headers_of(const std::string &rev) {
    std::string raw = git("cat-file commit " + rev);
    return raw.substr(0, raw.find("\n\n"));
  }
};

// ---------------------------------------------------------------- signals

TEST_F(HostTest, RefusalIsAFailureWhateverTheHostDoesWithChildSignals) {
  save("P", "one");
  const std::string before = head();
  hook("pre-commit", "echo 'refused by hook' >&2; exit 1");
  struct Case {
    const char *name;
    void (*handler)(int);
    bool portable;
  };
  const Case cases[] = {{"ignored", SIG_IGN, false},
                        {"reaped by the host", reap_everything, false},
                        {"ignored, portable start", SIG_IGN, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    spawn_use_portable_start(c.portable);
    int rc;
    {
      ChildSignal host(c.handler);
      rc = wikidb_save_page(h_, "P", "two", nullptr, "m");
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(head(), before);  // nothing committed
    const std::string msg = wikidb_last_error();
    if (c.portable || !kernel_keeps_exit_status())
      EXPECT_EQ(msg, kLost);
    else
      EXPECT_NE(msg.find("refused by hook"), std::string::npos) << msg;
    // The index entry of the refused page is not the subject here.
    git("reset -q");
  }
}

TEST_F(HostTest, SavesSucceedWithChildSignalsIgnoredOrReaped) {
  if (!kernel_keeps_exit_status()) GTEST_SKIP() << "this kernel keeps no status of a reaped child";
  for (auto handler : {SIG_IGN, reap_everything}) {
    const int before = commit_count();
    {
      ChildSignal host(handler);
      ASSERT_EQ(wikidb_save_page(h_, "Q", handler == SIG_IGN ? "a" : "b", nullptr, nullptr), 0)
          << wikidb_last_error();
      EXPECT_STRNE(wikidb_get_history_json(h_, "Q"), "[]");
    }
    EXPECT_EQ(commit_count(), before + 1);
  }
}

// ------------------------------------------------------ hooks' children

TEST_F(HostTest, BackgroundChildOfAHookDoesNotHoldTheSave) {
  // Each post-commit hook leaves a child holding git's output for 40 s;
  // the pids are kept so that the test can end them.
  const std::string pids = tmp_ / "pids";
  hook("post-commit", "sleep 40 & echo $! >> " + shq(pids) + "; echo committed");
  hook("post-checkout", "sleep 40 & echo $! >> " + shq(pids));
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  save("P", "one", "Ann", "first");
  save("P", "two", "Ann", "second");
  const std::string c1 = git("rev-parse HEAD~1").substr(0, 40);
  EXPECT_EQ(wikidb_rollback(h_, "P", c1.c_str(), "Ann"), 0) << wikidb_last_error();
  const double took = seconds_since(start);
  testutil::sh("kill $(cat " + shq(pids) + ") 2>/dev/null");
  // Three writes each held for 40 s before: any bound well below that
  // shows the hold is gone (a busy machine takes a few seconds at most).
  EXPECT_LT(took, 39.0);
  EXPECT_EQ(commit_count(), 3);
  EXPECT_STREQ(wikidb_get_page(h_, "P"), "one");
  EXPECT_EQ(git("log -1 --format=%s"), "Rollback P to " + c1 + "\n");
}

// ------------------------------------------------------------ messages

TEST_F(HostTest, MessagesAreRecordedAsGivenAtAnyLength) {
  // The user's own cleanup mode must not apply either.
  git("config commit.cleanup strip");
  std::string mib;
  for (int i = 0; mib.size() < (1u << 20); i++) mib += "# line " + std::to_string(i) + "  \n";
  std::string big(16u << 20, 'x');
  big[100] = '\n';
  const std::vector<std::string> messages = {
      "   ",                       // whitespace only
      "# heading\nbody",           // a line git takes for a comment
      "trailing  \n\n\n",          // blanks git would strip
      "\n\nleading blank lines",   //
      "a\r\nb\tc\n",               //
      mib,                         // 1 MiB, past the one-argument limit
      big,                         // 16 MiB
  };
  int n = 0;
  for (const std::string &m : messages) {
    SCOPED_TRACE(m.size());
    const std::string text = "v" + std::to_string(n++);
    ASSERT_EQ(wikidb_save_page(h_, "M", text.c_str(), nullptr, m.c_str()), 0) << wikidb_last_error();
    // git completes the last line of every message, and changes nothing else.
    const std::string want = m.back() == '\n' ? m : m + "\n";
    const std::string got = message_of("HEAD");
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
  }
  EXPECT_EQ(commit_count(), (int)messages.size());
  // The two routes agree: a message just at the argument bound and one
  // just past it are stored the same way.
  for (size_t len : {8192u, 8193u}) {
    const std::string m(len, 'y');
    ASSERT_EQ(wikidb_save_page(h_, "M", std::to_string(len).c_str(), nullptr, m.c_str()), 0);
    EXPECT_TRUE(message_of("HEAD") == m + "\n");
  }
}

TEST_F(HostTest, DefaultMessagesOfLongTitlesStayUtf8) {
  // Titles of two-, three- and four-byte characters whose default messages
  // ("Update T", "Delete T", "Rollback T to C") must be cut, each shifted so
  // that every byte of a character falls on the cut once.
  const std::vector<std::string> chars = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  int n = 0;
  for (const std::string &c : chars) {
    for (size_t shift = 0; shift < c.size(); shift++) {
      // Components stay below the file system's 255 bytes; the cuts (near
      // byte 248 of the title for "Update ", 290 for "Rollback ") fall in
      // the last one.
      std::string title = std::string(shift + 1, 'a') + "/";
      while (title.size() < 100) title += c;
      title += "/";
      while (title.size() < 320) title += c;
      SCOPED_TRACE(title);
      save(title.c_str(), "one");
      const std::string first = head();
      save(title.c_str(), "two");
      ASSERT_EQ(wikidb_rollback(h_, title.c_str(), first.c_str(), nullptr), 0) << wikidb_last_error();
      ASSERT_EQ(wikidb_delete_page(h_, title.c_str(), nullptr, nullptr), 0) << wikidb_last_error();
      n += 4;
      const std::string recent = wikidb_get_recent_changes_json(h_, 4);
      ASSERT_TRUE(nlohmann::json::accept(recent)) << recent;
      const nlohmann::json j = nlohmann::json::parse(recent);
      ASSERT_EQ(j.size(), 4u);
      for (const auto &e : j) {
        const std::string summary = e["summary"];
        const std::string verb = summary.substr(0, summary.find(' ') + 1);
        // A cut that keeps every whole character that fits.
        EXPECT_TRUE(verb == "Update " || verb == "Delete " || verb == "Rollback ") << summary;
        const std::string rest = summary.substr(verb.size());
        EXPECT_EQ(rest, title.substr(0, rest.size()));
        EXPECT_GT(summary.size(), 255u - 4);
      }
      EXPECT_TRUE(nlohmann::json::accept(std::string(wikidb_get_history_json(h_, nullptr))));
    }
  }
  EXPECT_EQ(commit_count(), n);
}

// ------------------------------------------------- environment and config

// Every report and read of a wiki with some history, as one text.
struct Snapshot {
  std::string list, history, history_new, history_all, recent, revision, diff;
  bool operator==(const Snapshot &o) const {
    return list == o.list && history == o.history && history_new == o.history_new &&
           history_all == o.history_all &&
           recent == o.recent && revision == o.revision && diff == o.diff;
  }
};

void PrintTo(const Snapshot &s, std::ostream *os) {
  *os << "list=" << s.list << "\nhistory=" << s.history << "\nnew=" << s.history_new << "\nall=" << s.history_all
      << "\nrecent=" << s.recent << "\nrevision=" << s.revision << "\ndiff=" << s.diff;
}

class ProfileTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    const std::string text = "line 1\n\nline 3\nline 4\nline 5\nline 6\nline 7\nline 8\n";
    save("Caf\xc3\xa9", text.c_str(), "Zo\xc3\xab", "first \xe2\x82\xac");
    std::string changed = text;
    changed.replace(changed.find("line 5"), 6, "line 5 changed");
    save("Caf\xc3\xa9", changed.c_str(), "Zo\xc3\xab", "second");
    save("b/Other", "x", "Ann", "other");
    c1_ = git("rev-parse HEAD~2").substr(0, 40);
    c2_ = git("rev-parse HEAD~1").substr(0, 40);
    // Page New is page Old renamed by plain git: following renames would
    // give New the history of Old.
    save("Old", "old text, long enough to be found again after a rename\n", "Ann", "old text");
    git("mv pages/Old.wiki pages/New.wiki && git -C " + shq(root_) + " commit -q -m renamed");
    baseline_ = snapshot();
    baseline_head_ = head();
  }

  Snapshot snapshot() {
    Snapshot s;
    s.list = wikidb_list_pages_json(h_, nullptr);
    s.history = wikidb_get_history_json(h_, "Caf\xc3\xa9");
    s.history_new = wikidb_get_history_json(h_, "New");
    s.history_all = wikidb_get_history_json(h_, nullptr);
    s.recent = wikidb_get_recent_changes_json(h_, 10);
    const char *r = wikidb_get_revision(h_, "Caf\xc3\xa9", c1_.c_str());
    s.revision = r ? r : "(null)";
    s.diff = wikidb_get_diff(h_, "Caf\xc3\xa9", c1_.c_str(), c2_.c_str());
    return s;
  }

  // Under the hostile setting: every report as before, and saves that
  // commit what was asked, as it was asked. The wiki is put back after.
  void expect_unchanged(const std::string &what) {
    SCOPED_TRACE(what);
    check_reports_and_saves(what);
    git("reset -q --hard " + baseline_head_ + " && git -C " + shq(root_) + " clean -qfdx pages");
    ASSERT_EQ(snapshot(), baseline_);
  }

  void check_reports_and_saves(const std::string &what) {
    EXPECT_EQ(snapshot(), baseline_);
    const std::string message = "# kept \xc3\xa9  \n\n";
    ASSERT_EQ(wikidb_save_page(h_, "Caf\xc3\xa9", what.c_str(), "Zo\xc3\xab <z@example.org>",
                               message.c_str()),
              0)
        << wikidb_last_error();
    EXPECT_STREQ(wikidb_get_page(h_, "Caf\xc3\xa9"), what.c_str());
    EXPECT_TRUE(message_of("HEAD") == message);
    const std::string headers = headers_of("HEAD");
    EXPECT_EQ(headers.find("gpgsig"), std::string::npos);
    EXPECT_EQ(headers.find("encoding"), std::string::npos);
    EXPECT_NE(headers.find("author Zo\xc3\xab <z@example.org> "), std::string::npos);
    // A page git has never seen, and the list that names it.
    ASSERT_EQ(wikidb_save_page(h_, "Fresh", "new", nullptr, nullptr), 0) << wikidb_last_error();
    EXPECT_EQ(git("log -1 --format=%s"), "Update Fresh\n");
    EXPECT_NE(std::string(wikidb_list_pages_json(h_, "F")).find("\"Fresh\""), std::string::npos);
  }

  std::string c1_, c2_, baseline_head_;
  Snapshot baseline_;
};

TEST_F(ProfileTest, BaselineIsWhatTheReportsPromise) {
  // The reference itself must be right, or every comparison proves nothing.
  EXPECT_EQ(baseline_.list, "[\"Caf\xc3\xa9\",\"New\",\"b/Other\"]");
  EXPECT_NE(baseline_.diff.find("--- a/pages/Caf\xc3\xa9.wiki"), std::string::npos);
  EXPECT_NE(baseline_.diff.find(" line 4\n-line 5\n+line 5 changed\n line 6\n"), std::string::npos);
  EXPECT_NE(baseline_.diff.find("\n \n"), std::string::npos);  // the blank line as context
  EXPECT_EQ(baseline_.diff.find('\x1b'), std::string::npos);
  EXPECT_NE(baseline_.recent.find("\"summary\":\"first \xe2\x82\xac\""), std::string::npos);
  // A page's own history, without the one it was renamed from.
  EXPECT_EQ(baseline_.history_new.find("old text"), std::string::npos);
  EXPECT_NE(baseline_.history_new.find("\"summary\":\"renamed\""), std::string::npos);
  EXPECT_EQ(baseline_.revision, "line 1\n\nline 3\nline 4\nline 5\nline 6\nline 7\nline 8\n");
}

TEST_F(ProfileTest, HostEnvironmentVariablesChangeNothing) {
  const std::string ext = tmp_ / "extdiff";
  testutil::write_file(ext, "#!/bin/sh\necho EXTERNAL\n");
  testutil::sh("chmod +x " + shq(ext));
  const std::vector<std::pair<const char *, std::string>> vars = {
      {"GIT_TRACE", "1"},
      {"GIT_TRACE2", "1"},
      {"GIT_TRACE2_PERF", "2"},
      {"GIT_TRACE_SETUP", "1"},
      {"GIT_TRACE_PERFORMANCE", "1"},
      {"GIT_EXTERNAL_DIFF", ext},
      {"GIT_DIFF_OPTS", "--unified=0"},
      {"GIT_CONFIG_PARAMETERS",
       "'commit.gpgsign'='true' 'i18n.logoutputencoding'='ISO-8859-1' 'color.ui'='always'"},
      {"GIT_AUTHOR_DATE", "2001-02-03T04:05:06"},
      {"GIT_COMMITTER_DATE", "2001-02-03T04:05:06"},
  };
  for (const auto &v : vars) {
    ScopedEnv set(v.first, v.second.c_str());
    expect_unchanged(v.first);
  }
  // The numbered form, which git reads as settings from the command line.
  {
    ScopedEnv count("GIT_CONFIG_COUNT", "4");
    ScopedEnv k0("GIT_CONFIG_KEY_0", "commit.gpgsign"), v0("GIT_CONFIG_VALUE_0", "true");
    ScopedEnv k1("GIT_CONFIG_KEY_1", "i18n.logOutputEncoding"), v1("GIT_CONFIG_VALUE_1", "ISO-8859-1");
    ScopedEnv k2("GIT_CONFIG_KEY_2", "diff.external"), v2("GIT_CONFIG_VALUE_2", ext.c_str());
    ScopedEnv k3("GIT_CONFIG_KEY_3", "log.follow"), v3("GIT_CONFIG_VALUE_3", "true");
    expect_unchanged("GIT_CONFIG_COUNT");
  }
}

TEST_F(ProfileTest, DatesAreTheSavesOwn) {
  ScopedEnv a("GIT_AUTHOR_DATE", "2001-02-03T04:05:06"), c("GIT_COMMITTER_DATE", "2001-02-03T04:05:06");
  save("D", "x");
  const std::string dates = testutil::git(root_, "log -1 --format=%ad/%cd --date=format:%Y");
  EXPECT_EQ(dates.find("2001"), std::string::npos) << dates;
}

TEST_F(ProfileTest, UserAndRepositoryConfigurationChangeNothing) {
  const std::string ext = tmp_ / "extdiff";
  testutil::write_file(ext, "#!/bin/sh\necho EXTERNAL\n");
  testutil::sh("chmod +x " + shq(ext));
  testutil::write_file(tmp_ / "excludes", "*.wiki\n");
  const std::vector<std::pair<std::string, std::string>> settings = {
      {"diff.external", ext},
      {"i18n.logOutputEncoding", "ISO-8859-1"},
      {"i18n.commitEncoding", "ISO-8859-1"},
      {"color.ui", "always"},
      {"color.diff", "always"},
      {"log.follow", "true"},
      {"core.quotepath", "true"},
      {"diff.noprefix", "true"},
      {"diff.context", "0"},
      {"diff.suppressBlankEmpty", "true"},
      {"commit.gpgsign", "true"},
      {"commit.cleanup", "strip"},
      {"core.excludesFile", tmp_ / "excludes"},
      {"trace2.normalTarget", "2"},
  };
  // The repository's own file, then the user's (pointed to by
  // GIT_CONFIG_GLOBAL, which the library leaves alone: identity lives there).
  for (const auto &s : settings) {
    git("config " + shq(s.first) + " " + shq(s.second));
    expect_unchanged("repository " + s.first);
    git("config --unset " + shq(s.first));
  }
  for (const auto &s : settings) {
    const std::string global = tmp_ / "global.gitconfig";
    testutil::write_file(global, "");
    testutil::sh("git config --file " + shq(global) + " " + shq(s.first) + " " + shq(s.second));
    ScopedEnv g("GIT_CONFIG_GLOBAL", global.c_str());
    expect_unchanged("user " + s.first);
  }
}

TEST_F(ProfileTest, IdentityAndHooksStillWork) {
  // The committer comes from the host's identity variables; the
  // repository's hooks still run.
  ScopedEnv name("GIT_COMMITTER_NAME", "Host Name");
  ScopedEnv mail("GIT_COMMITTER_EMAIL", "host@example.org");
  hook("post-commit", "echo ran > " + shq(tmp_ / "hook-ran"));
  save("I", "x", "Ann <ann@example.org>");
  EXPECT_EQ(git("log -1 --format=%cn/%ce/%an/%ae"), "Host Name/host@example.org/Ann/ann@example.org\n");
  EXPECT_TRUE(testutil::exists(tmp_ / "hook-ran"));
}

TEST_F(ProfileTest, GitSeesNoHostTraceOrTestSwitches) {
  // What the library hands git, seen from a fake.
  testutil::FakeGit fake("env | grep -E '^GIT_(TRACE|TEST|CONFIG|EXTERNAL|DIFF_OPTS|AUTHOR_DATE)' | sort");
  ScopedEnv t("GIT_TRACE_PACKET", "1"), f("GIT_TEST_FSYNC", "0"), k("GIT_CONFIG_KEY_7", "x.y"),
      v("GIT_CONFIG_VALUE_7", "z"), p("GIT_CONFIG_PARAMETERS", "'a.b'='c'");
  char *out = nullptr;
  const char *args[] = {"x", nullptr};
  ASSERT_EQ(run_git(root_.c_str(), args, &out), 0);
  const std::string env = out ? out : "";
  free(out);
  EXPECT_EQ(env.find("GIT_TRACE_PACKET"), std::string::npos) << env;
  EXPECT_EQ(env.find("GIT_TEST_FSYNC"), std::string::npos) << env;
  EXPECT_EQ(env.find("x.y"), std::string::npos) << env;
  EXPECT_EQ(env.find("GIT_CONFIG_PARAMETERS"), std::string::npos) << env;
  EXPECT_NE(env.find("GIT_CONFIG_KEY_0=i18n.logOutputEncoding"), std::string::npos) << env;
  EXPECT_NE(env.find("GIT_TRACE2=0"), std::string::npos) << env;
}

}  // namespace
