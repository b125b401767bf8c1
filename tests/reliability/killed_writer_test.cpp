// Writers that die or fail part way: SIGKILL at random points (the writer
// alone, or the writer with its git children as one process group), writes
// on a disk that fills up (a file-size limit on the writer and its git), and
// a hook that refuses commits. After each, the next writer must succeed with
// nothing staged and no lock left; at the end "git fsck --full" is clean and
// every commit holds exactly the one page its own writer asked for, under
// that writer's author and message.
//
// Bounded by counts, not by time: the kill points are random delays within
// the measured length of a write, so a slow machine only moves them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "store/writer_lock.h"
#include "testutil.h"
#include "wikidb.h"

using namespace testutil;

namespace {

enum { ALONE_TRIALS = 150, GROUP_TRIALS = 150, DISK_TRIALS = 40, HOOK_TRIALS = 10, PAGES = 10 };
enum { FSCK_EVERY = 40 };

enum Op { SAVE, DELETE, ROLLBACK };

// What one writer asked for.
struct Plan {
  Op op = SAVE;
  std::string title, content, author, message, commit;
};

// What its commit must hold, if it made one.
struct Expect {
  std::string path, author;
  bool removes = false;
  std::string content;
};

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

long long now_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

void sleep_us(long long us) {
  timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

int run_plan(wikidb_handle *h, const Plan &p) {
  switch (p.op) {
    case SAVE:
      return wikidb_save_page(h, p.title.c_str(), p.content.c_str(), p.author.c_str(),
                              p.message.c_str());
    case DELETE:
      return wikidb_delete_page(h, p.title.c_str(), p.author.c_str(), p.message.c_str());
    case ROLLBACK:
      return wikidb_rollback(h, p.title.c_str(), p.commit.c_str(), p.author.c_str());
  }
  return -1;
}

// A writer in a child process of its own group, so that the group can be
// killed with its git children. It opens the wiki, says so, waits for the
// go, and then writes.
struct Child {
  pid_t pid = -1;
  int ready = -1, go = -1;
};

Child start_writer(const std::string &root, const Plan &plan, long long fsize_limit) {
  int ready[2], go[2];
  if (pipe(ready) != 0 || pipe(go) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    close(ready[0]);
    close(go[1]);
    if (fsize_limit >= 0) {
      // Writes past the limit fail with EFBIG in the writer; git, which
      // starts with default signal actions, dies of SIGXFSZ instead.
      signal(SIGXFSZ, SIG_IGN);
      rlimit r = {(rlim_t)fsize_limit, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &r);
    }
    wikidb_handle *h = wikidb_open(root.c_str());
    if (!h) _exit(3);
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(4);
    if (read(go[0], &c, 1) != 1) _exit(5);
    int rc = run_plan(h, plan);
    if (rc != 0 && fsize_limit < 0) fprintf(stderr, "writer failed: %s\n", wikidb_last_error());
    wikidb_close(h);
    _exit(rc == 0 ? 0 : 1);
  }
  setpgid(pid, pid);  // also from here, so that the group exists before a kill
  close(ready[1]);
  close(go[0]);
  return {pid, ready[0], go[1]};
}

// Waits for the writer; then for every git it left running, which this
// process (a subreaper) inherits: the next writer meets only the dead.
int finish(Child &c, long long *exited_us = nullptr) {
  int st = 0;
  while (waitpid(c.pid, &st, 0) < 0) {
  }
  if (exited_us) *exited_us = now_us();
  close(c.ready);
  close(c.go);
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  return st;
}

class KilledWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    // Every git a dead writer left is reaped before the next writer starts
    // (finish), so a lock still there is a dead one: no need for the grace
    // that protects a git still finishing.
    writer_set_wait_limits_ms(-1, -1, 50);
    root_ = tmp_ / "wiki";
    h_ = wikidb_open(root_.c_str());
    ASSERT_NE(h_, nullptr) << wikidb_last_error();
    std::random_device seed;
    const unsigned s = seed();
    rng_.seed(s);
    RecordProperty("seed", std::to_string(s));
    for (int i = 0; i < PAGES; i++) {
      Plan p = save_plan("seed", i, title(i));
      ASSERT_EQ(run_plan(h_, p), 0) << wikidb_last_error();
      expect(p);
    }
  }
  void TearDown() override {
    wikidb_close(h_);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    writer_set_wait_limits_ms(-1, -1, DEAD_LOCK_GRACE_MS);
  }

  static std::string title(int i) { return "dir" + std::to_string(i % 3) + "/page" + std::to_string(i); }
  static std::string path_of(const std::string &title) { return "pages/" + title + ".wiki"; }
  std::string git_out(const std::string &args, int *status = nullptr) {
    return git(root_, args, status);
  }

  Plan save_plan(const std::string &who, int i, const std::string &t) {
    Plan p;
    p.op = SAVE;
    p.title = t;
    p.content = who + " " + std::to_string(i) + " wrote this\n" +
                std::string(rng_() % 400, (char)('a' + rng_() % 26)) + "\n";
    p.author = who + " " + std::to_string(i) + " <" + who + std::to_string(i) + "@example.org>";
    p.message = who + " " + std::to_string(i);
    return p;
  }

  // A save, delete or rollback of some page, each with its own message.
  Plan random_plan(const std::string &who, int i) {
    const std::string t = title((int)(rng_() % PAGES));
    Plan p = save_plan(who, i, t);
    const unsigned pick = rng_() % 10;
    int tracked = 0;
    git_out("cat-file -e HEAD:" + shq(path_of(t)) + " 2>/dev/null", &tracked);
    if (pick == 0 && tracked == 0) {
      p.op = DELETE;
    } else if (pick == 1) {
      // Back to a text the page had some commits ago.
      std::string older = trimmed(git_out("log -n1 --skip=2 --format=%H -- " + shq(path_of(t))));
      int there = 1;
      if (!older.empty()) git_out("cat-file -e " + older + ":" + shq(path_of(t)) + " 2>/dev/null", &there);
      if (there == 0) {
        p.op = ROLLBACK;
        p.commit = older;
        p.content = git_out("show " + older + ":" + shq(path_of(t)));
        p.message = "Rollback " + t + " to " + older;
      }
    }
    return p;
  }

  void expect(const Plan &p) {
    Expect e;
    e.path = path_of(p.title);
    e.author = p.author;
    e.removes = p.op == DELETE;
    e.content = e.removes ? "" : p.content;
    expected_[p.message] = e;
  }

  // The next writer: it must succeed, commit only its page, and leave
  // nothing staged and no lock of git's behind.
  void next_writer(const std::string &who, int i) {
    Plan p = save_plan("next-" + who, i, title((int)(rng_() % PAGES)));
    expect(p);
    ASSERT_EQ(run_plan(h_, p), 0) << "trial " << i << ": " << wikidb_last_error();
    must_commit_.insert(p.message);
    EXPECT_EQ(trimmed(git_out("log -1 --format=%s")), p.message);
    EXPECT_EQ(git_out("show --name-only --format= HEAD"), path_of(p.title) + "\n")
        << "trial " << i << " after " << last_plan_ << "\n" << git_out("log -4 --name-status");
    int staged = 0;
    git_out("diff --cached --quiet", &staged);
    EXPECT_EQ(staged, 0) << "trial " << i << ": something left staged";
    EXPECT_EQ(sh("cd " + shq(root_ + "/.git") + " && find . -name '*.lock' ! -name wikidb.lock"), "")
        << "trial " << i;
    EXPECT_FALSE(exists(root_ + "/.git/wikidb-journal")) << "trial " << i;
    if (i % FSCK_EVERY == 0) fsck();
  }

  void fsck() {
    int status = 0;
    std::string out = git_out("fsck --full --no-progress 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    for (const char *bad : {"error", "missing", "broken", "corrupt", "bad "})
      EXPECT_EQ(out.find(bad), std::string::npos) << out;
  }

  // The measured length of one write, from the go to the writer's exit.
  long long measure_write_us(const std::string &who) {
    long long total = 0;
    for (int i = 0; i < 4; i++) {
      Plan p = save_plan("measure-" + who, i, title(i));
      expect(p);
      Child c = start_writer(root_, p, -1);
      char ch;
      if (read(c.ready, &ch, 1) != 1) ADD_FAILURE() << "writer did not start";
      const long long t0 = now_us();
      if (write(c.go, "g", 1) != 1) ADD_FAILURE();
      long long t1 = 0;
      const int st = finish(c, &t1);
      total += t1 - t0;
      EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
      must_commit_.insert(p.message);
    }
    return std::max(total / 4, 1000LL);
  }

  void kill_trials(const char *who, int trials, bool group) {
    const long long span = measure_write_us(who);
    int killed = 0, finished = 0;
    // The kill delay is drawn from the write time measured once; when the
    // machine's load changes after that, fewer trials may be cut short, so
    // more are run (a bounded number) until enough were.
    for (int i = 0; i < trials || (killed <= trials / 4 && i < 3 * trials); i++) {
      Plan p = random_plan(who, i);
      expect(p);
      last_plan_ = p.message + " on " + p.title;
      Child c = start_writer(root_, p, -1);
      // One trial in ten is killed while it opens the wiki.
      const bool during_open = rng_() % 10 == 0;
      if (!during_open) {
        char ch;
        if (read(c.ready, &ch, 1) == 1 && write(c.go, "g", 1) != 1) ADD_FAILURE();
      }
      sleep_us((long long)(rng_() % (unsigned long long)span));
      kill(group ? -c.pid : c.pid, SIGKILL);
      const int st = finish(c);
      if (WIFEXITED(st)) {
        finished++;
        // It ran to its end before the kill: it must have succeeded.
        EXPECT_EQ(WEXITSTATUS(st), 0) << who << " trial " << i;
        if (p.op != ROLLBACK) must_commit_.insert(p.message);
      } else {
        killed++;
      }
      next_writer(who, i);
      if (HasFatalFailure()) return;
    }
    RecordProperty(std::string(who) + "_killed", killed);
    RecordProperty(std::string(who) + "_finished", finished);
    // A good share of the trials must really be cut short, or the test
    // proves little.
    EXPECT_GT(killed, trials / 4) << "killed " << killed << " of " << trials;
  }

  // Every commit: exactly one page file changed, as its writer asked.
  void check_every_commit() {
    fsck();
    const std::string log = git_out("log --name-only " + shq("--format=%x1e%H%x1f%an <%ae>%x1f%s"));
    std::stringstream records(log);
    std::string record;
    std::set<std::string> seen;
    int commits = 0;
    while (std::getline(records, record, '\x1e')) {
      if (record.empty()) continue;
      commits++;
      std::stringstream lines(record);
      std::string head, line;
      std::getline(lines, head);
      std::vector<std::string> files;
      while (std::getline(lines, line))
        if (!line.empty()) files.push_back(line);
      const size_t a = head.find('\x1f'), b = head.find('\x1f', a + 1);
      const std::string hash = head.substr(0, a), author = head.substr(a + 1, b - a - 1),
                        message = head.substr(b + 1);
      seen.insert(message);
      auto it = expected_.find(message);
      ASSERT_NE(it, expected_.end()) << "commit " << hash << " made by no writer: " << message;
      const Expect &e = it->second;
      EXPECT_EQ(author, e.author) << hash << " " << message;
      EXPECT_EQ(files, std::vector<std::string>{e.path})
          << hash << " " << message << " swept others\n" << git_out("show --stat " + hash);
      int status = 0;
      const std::string content = git_out("show " + hash + ":" + shq(e.path) + " 2>/dev/null", &status);
      if (e.removes)
        EXPECT_NE(status, 0) << hash << " " << message;
      else
        EXPECT_EQ(content, e.content) << hash << " " << message;
    }
    for (const std::string &m : must_commit_) EXPECT_EQ(seen.count(m), 1u) << "lost: " << m;
    RecordProperty("commits", commits);
  }

  TempDir tmp_;
  std::string root_;
  wikidb_handle *h_ = nullptr;
  std::mt19937 rng_;
  std::map<std::string, Expect> expected_;
  std::set<std::string> must_commit_;
  std::string last_plan_;
};

TEST_F(KilledWriters, WriterAloneOrWithItsGitKilledAtRandomPoints) {
  kill_trials("alone", ALONE_TRIALS, false);
  if (HasFatalFailure()) return;
  kill_trials("group", GROUP_TRIALS, true);
  if (HasFatalFailure()) return;
  check_every_commit();
}

TEST_F(KilledWriters, WritersOnAFullDisk) {
  // The index is the largest file a write rewrites; limits around its size
  // cut the journal, the page, git's objects or the index itself.
  int failed = 0;
  for (int i = 0; i < DISK_TRIALS; i++) {
    struct stat st;
    ASSERT_EQ(stat((root_ + "/.git/index").c_str(), &st), 0);
    const long long limit = (long long)(rng_() % (unsigned long long)(st.st_size + 600));
    Plan p = random_plan("disk", i);
    expect(p);
    Child c = start_writer(root_, p, limit);
    char ch;
    if (read(c.ready, &ch, 1) == 1 && write(c.go, "g", 1) != 1) ADD_FAILURE();
    const int status = finish(c);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      if (p.op != ROLLBACK) must_commit_.insert(p.message);
    } else {
      failed++;
    }
    next_writer("disk", i);
    if (HasFatalFailure()) return;
  }
  RecordProperty("failed_writes", failed);
  EXPECT_GT(failed, 0) << "no limit was small enough to fail a write";
  check_every_commit();
}

TEST_F(KilledWriters, CommitsRefusedByAHook) {
  const std::string hook = root_ + "/.git/hooks/pre-commit";
  for (int i = 0; i < HOOK_TRIALS; i++) {
    write_file(hook, "#!/bin/sh\necho refused >&2\nexit 1\n");
    ASSERT_EQ(chmod(hook.c_str(), 0755), 0);
    Plan p = save_plan("hooked", i, title(i % PAGES));
    expect(p);
    EXPECT_EQ(run_plan(h_, p), -1);
    EXPECT_NE(std::string(wikidb_last_error()).find("refused"), std::string::npos) << wikidb_last_error();
    // The file keeps the new text; the index does not.
    EXPECT_EQ(read_file(root_ + "/" + path_of(p.title)), p.content);
    int staged = 0;
    git_out("diff --cached --quiet", &staged);
    EXPECT_EQ(staged, 0) << "the refused page stayed staged";
    unlink(hook.c_str());
    next_writer("hooked", i);
    if (HasFatalFailure()) return;
  }
  check_every_commit();
}

}  // namespace
