// The host's own process state must not reach git: signals it blocks or
// ignores, and standard descriptors it has closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"
#include "wiki_fixture.h"
#include "wikidb.h"

namespace {

// Started as a fake git (the test links this program as "git" and sets the
// variable), the program prints the signal state it was started with and
// exits before anything in it could change that state. A shell would not
// do: it clears its children's signal mask itself.
__attribute__((constructor)) static void report_signals_when_started_as_git() {
  if (!getenv("WIKIDB_TEST_REPORT_SIGNALS")) return;
  FILE *f = fopen("/proc/self/status", "r");
  char line[256];
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, "SigBlk:", 7) == 0 || strncmp(line, "SigIgn:", 7) == 0) fputs(line, stdout);
  fflush(stdout);
  _exit(1);
}

// The bits of signals 1 to 31, those a host can set, in a "SigBlk:" or
// "SigIgn:" line of /proc/PID/status (above them the C library may keep its
// own internal ones); all ones when the line is missing.
unsigned long long classic_signals(const std::string &status, const char *line) {
  size_t at = status.find(line);
  if (at == std::string::npos) return ~0ull;
  return strtoull(status.c_str() + at + strlen(line), nullptr, 16) & 0x7fffffffull;
}

class HostSignals : public WikiTest {
 protected:
  // Blocks SIGCHLD, SIGPIPE and SIGTERM and ignores SIGPIPE and SIGINT, as
  // hosts do; every signal a host blocks or ignores would be inherited
  // across exec (a git ignoring SIGPIPE writes on after its reader is gone,
  // one blocking SIGCHLD waits badly for its hooks and helpers).
  void SetUp() override {
    WikiTest::SetUp();
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGCHLD);
    sigaddset(&block, SIGPIPE);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &block, &old_mask_), 0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_pipe_);
    sigaction(SIGINT, &ignore, &old_int_);
  }
  void TearDown() override {
    sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
    sigaction(SIGPIPE, &old_pipe_, nullptr);
    sigaction(SIGINT, &old_int_, nullptr);
    WikiTest::TearDown();
  }

 private:
  sigset_t old_mask_;
  struct sigaction old_pipe_, old_int_;
};

TEST_F(HostSignals, GitStartsWithNoSignalBlockedOrIgnored) {
  save("P", "text\n");
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) GTEST_SKIP() << "/proc/self/exe cannot be read here";
  self[n] = '\0';
  testutil::TempDir bin;
  ASSERT_EQ(symlink(self, (bin / "git").c_str()), 0);
  const std::string old_path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin.path() + ":" + old_path).c_str(), 1);
  setenv("WIKIDB_TEST_REPORT_SIGNALS", "1", 1);
  const char *revision = wikidb_get_revision(h_, "P", "HEAD");
  const std::string status = wikidb_last_error();
  unsetenv("WIKIDB_TEST_REPORT_SIGNALS");
  setenv("PATH", old_path.c_str(), 1);

  EXPECT_EQ(revision, nullptr);
  if (status.find("SigBlk:") == std::string::npos)
    GTEST_SKIP() << "/proc/self/status has no signal lines here: " << status;
  EXPECT_EQ(classic_signals(status, "SigBlk:"), 0u) << status;
  EXPECT_EQ(classic_signals(status, "SigIgn:"), 0u) << status;
}

TEST_F(HostSignals, TheRealGitWorksAsUsual) {
  save("P", "one\n");
  save("P", "one\ntwo\n");
  EXPECT_STREQ(wikidb_get_revision(h_, "P", "HEAD~1"), "one\n") << wikidb_last_error();
  EXPECT_NE(std::string(wikidb_get_diff(h_, "P", "HEAD~1", "HEAD")).find("+two"), std::string::npos);
  EXPECT_NE(std::string(wikidb_get_history_json(h_, "P")).find("\"size\":4}"), std::string::npos);
  EXPECT_EQ(commit_count(), 2);
}

// What a few calls return, output and messages alike, for comparing runs
// made with and without the host's standard descriptors.
struct Outcome {
  int saved = -2;
  std::string revision, missing_revision_error, diff, history_sizes, list;
  bool operator==(const Outcome &o) const {
    return saved == o.saved && revision == o.revision &&
           missing_revision_error == o.missing_revision_error && diff == o.diff &&
           history_sizes == o.history_sizes && list == o.list;
  }
};

std::string sizes_of(const char *history) {
  // Only the sizes: the hashes differ from run to run.
  std::string out, h = history ? history : "";
  for (size_t at = h.find("\"size\":"); at != std::string::npos; at = h.find("\"size\":", at + 1))
    out += h.substr(at, h.find_first_of(",}", at) - at) + " ";
  return out;
}

Outcome exercise(wikidb_handle *h, const std::string &title) {
  Outcome o;
  o.saved = wikidb_save_page(h, title.c_str(), "one\n", "Ann", "first") +
            wikidb_save_page(h, title.c_str(), "one\ntwo\n", "Ann", "second");
  const char *r = wikidb_get_revision(h, title.c_str(), "HEAD~1");
  o.revision = r ? r : "(null)";
  wikidb_get_revision(h, title.c_str(), "no-such-revision");
  o.missing_revision_error = wikidb_last_error();
  const char *d = wikidb_get_diff(h, title.c_str(), "HEAD~1", "HEAD");
  o.diff = d ? d : "(null)";
  o.diff = o.diff.substr(o.diff.find("@@"));  // past the index line's hashes
  o.history_sizes = sizes_of(wikidb_get_history_json(h, title.c_str()));  // fed on git's input
  o.list = wikidb_list_pages_json(h, nullptr);
  return o;
}

TEST(HostDescriptors, GitWorksWhenTheHostClosedItsStandardDescriptors) {
  const std::vector<std::vector<int>> closings = {{0}, {1}, {2}, {0, 1}, {1, 2}, {0, 2}, {0, 1, 2}};
  Outcome expected;
  {
    testutil::TempDir dir;
    wikidb_handle *h = wikidb_open((dir / "wiki").c_str());
    ASSERT_NE(h, nullptr) << wikidb_last_error();
    expected = exercise(h, "Page");
    wikidb_close(h);
  }
  ASSERT_EQ(expected.saved, 0);
  ASSERT_NE(expected.missing_revision_error.find("fatal"), std::string::npos)
      << expected.missing_revision_error;

  for (const auto &closed : closings) {
    testutil::TempDir dir;
    const std::string root = dir / "wiki";
    std::string which;
    for (int fd : closed) which += std::to_string(fd) + " ";
    fflush(nullptr);
    // Kept above the standard three while they are closed; gtest writes
    // nothing until they are back.
    int kept[3];
    for (int fd = 0; fd < 3; fd++) kept[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    for (int fd : closed) close(fd);
    wikidb_handle *h = wikidb_open(root.c_str());
    Outcome got;
    std::string open_error = wikidb_last_error();
    if (h) got = exercise(h, "Page");
    wikidb_close(h);
    for (int fd = 0; fd < 3; fd++) {
      dup2(kept[fd], fd);
      close(kept[fd]);
    }
    ASSERT_NE(h, nullptr) << "closed: " << which << open_error;
    EXPECT_TRUE(got == expected) << "closed: " << which << "\nsaved " << got.saved
                                 << "\nrevision " << got.revision << "\nerror "
                                 << got.missing_revision_error << "\ndiff " << got.diff
                                 << "\nsizes " << got.history_sizes << "\nlist " << got.list;
  }
}

}  // namespace
