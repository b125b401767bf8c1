#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "testutil.h"
#include "wiki_fixture.h"

using testutil::exists;
using testutil::read_file;

namespace {

using Pages = WikiTest;

TEST_F(Pages, RoundTripsArbitraryBytes) {
  const std::string text = "line one\r\nline two\n\xc3\xa9\xff\x01 end";
  save("Home", text.c_str());
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_EQ(read_file(page_file("Home.wiki")), text);
  const char *back = wikidb_get_page(h_, "Home");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::string(back), text);
  EXPECT_EQ(git("show HEAD:pages/Home.wiki"), text);
  EXPECT_EQ(git("status --porcelain"), "");
}

TEST_F(Pages, EmptyAndNullContent) {
  save("Empty", "");
  save("Null", nullptr);
  EXPECT_EQ(read_file(page_file("Null.wiki")), "");
  const char *t = wikidb_get_page(h_, "Null");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "");
  EXPECT_EQ(git("ls-files pages"), "pages/Empty.wiki\npages/Null.wiki\n");
}

TEST_F(Pages, ZeroByteInAPageEndsTheTextForAReader) {
  testutil::write_file(page_file("Z.wiki"), std::string("ab\0cd", 5));
  const char *t = wikidb_get_page(h_, "Z");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "ab");
  EXPECT_EQ(std::string(t, 6), std::string("ab\0cd\0", 6));  // all bytes are kept
}

TEST_F(Pages, SubdirectoriesInBothSeparatorForms) {
  save("a/b/c", "slash");
  save("x\\y", "backslash");
  EXPECT_EQ(read_file(page_file("a/b/c.wiki")), "slash");
  EXPECT_EQ(read_file(page_file("x/y.wiki")), "backslash");
  EXPECT_STREQ(wikidb_get_page(h_, "x/y"), "backslash");
  EXPECT_STREQ(wikidb_get_page(h_, "a\\b\\c"), "slash");
  EXPECT_EQ(git("ls-files"), "pages/a/b/c.wiki\npages/x/y.wiki\n");
}

TEST_F(Pages, AuthorsAndMessages) {
  save("P", "1", nullptr, nullptr);
  save("P", "2", "Ann <ann@example.org>", "my message");
  save("P", "3", "Bob", "");
  EXPECT_EQ(git("log --format='%an <%ae>|%s|%cn'"),
            "Bob <Bob@users.quenlow-wikidb.invalid>|Update P|Wiki User\n"
            "Ann <ann@example.org>|my message|Wiki User\n"
            "Wiki User <wiki@quenlow-wikidb.invalid>|Update P|Wiki User\n");
}

TEST_F(Pages, UnchangedSaveSucceedsWithAndWithoutUntrackedFiles) {
  save("P", "same");
  const int commits = commit_count();
  save("P", "same");
  EXPECT_STREQ(wikidb_last_error(), "");
  testutil::write_file(root_ + "/untracked.txt", "x");  // git then words its refusal otherwise
  save("P", "same");
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_EQ(commit_count(), commits);
}

TEST_F(Pages, UnchangedSaveSucceedsWhateverGitsLanguage) {
  save("P", "same");
  setenv("LANGUAGE", "de", 1);
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  // Only a git that really speaks German here proves anything.
  const std::string said = git("commit -m probe 2>&1");
  if (said.find("nichts zu committen") == std::string::npos) {
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    GTEST_SKIP() << "git does not print German messages here (needs the de_DE.UTF-8 locale, "
                    "which scripts/install-deps.sh generates, and git's translations); it said: "
                 << said;
  }
  EXPECT_EQ(wikidb_save_page(h_, "P", "same", nullptr, nullptr), 0) << wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "");
  unsetenv("LANGUAGE");
  unsetenv("LC_ALL");
}

TEST_F(Pages, FailedCommitWithSomethingStagedKeepsTheCommitsMessage) {
  // A hook that refuses the commit while mentioning "clean" and "nothing to
  // commit": wording must not turn the failure into success.
  const std::string hook = root_ + "/.git/hooks/pre-commit";
  testutil::write_file(hook, "#!/bin/sh\necho 'cleaning up: nothing to commit'\nexit 1\n");
  chmod(hook.c_str(), 0755);
  EXPECT_EQ(wikidb_save_page(h_, "P", "text", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 1): cleaning up: nothing to commit\n");
  EXPECT_EQ(head(), "");
  // The failed save took its page back out of the index ...
  EXPECT_EQ(git("diff --cached --name-only"), "");
  // ... so only what the host staged itself is left, and a delete whose
  // commit then fails keeps the commit's message.
  testutil::write_file(root_ + "/host.txt", "host");
  git("add host.txt");
  EXPECT_EQ(wikidb_delete_page(h_, "Other", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 1): cleaning up: nothing to commit\n");
}

TEST_F(Pages, AddFailureIsReported) {
  testutil::FakeGit fake(
      "case \"$4\" in add) echo 'fatal: add refused'; exit 128;; esac; exec \"$REAL_GIT\" \"$@\"");
  EXPECT_EQ(wikidb_save_page(h_, "P", "text", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "git command failed (exit code 128): fatal: add refused\n");
  EXPECT_EQ(read_file(page_file("P.wiki")), "text");  // the write is not undone
}

TEST_F(Pages, InvalidArguments) {
  EXPECT_EQ(wikidb_save_page(nullptr, "P", "t", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid handle");
  EXPECT_EQ(wikidb_save_page(h_, nullptr, "t", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid title");
  EXPECT_EQ(wikidb_save_page(h_, "", "t", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid title");
  EXPECT_EQ(wikidb_get_page(nullptr, "P"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_page");
  EXPECT_EQ(wikidb_get_page(h_, ""), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_page");
  EXPECT_EQ(wikidb_delete_page(nullptr, "P", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page");
  EXPECT_EQ(wikidb_delete_page(h_, nullptr, nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page");
}

TEST_F(Pages, FailedReadKeepsThePreviousText) {
  save("A", "alpha");
  save("B", "beta");
  const char *a = wikidb_get_page(h_, "A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(wikidb_get_page(h_, "Missing"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: Missing");
  EXPECT_STREQ(a, "alpha");  // still valid
  EXPECT_STREQ(wikidb_get_page(h_, "B"), "beta");
  // Other queries leave the page slot alone.
  const char *b = wikidb_get_page(h_, "B");
  wikidb_list_pages_json(h_, nullptr);
  wikidb_get_history_json(h_, "B");
  EXPECT_STREQ(b, "beta");
}

TEST_F(Pages, Delete) {
  save("P", "text");
  save("Keep", "k");
  ASSERT_EQ(wikidb_delete_page(h_, "P", "Ann", nullptr), 0) << wikidb_last_error();
  EXPECT_FALSE(exists(page_file("P.wiki")));
  EXPECT_EQ(git("log -1 --format='%an|%s'"), "Ann|Delete P\n");
  EXPECT_EQ(git("ls-files"), "pages/Keep.wiki\n");
  ASSERT_EQ(wikidb_delete_page(h_, "Keep", nullptr, "gone now"), 0);
  EXPECT_EQ(git("log -1 --format=%s"), "gone now\n");
  // A page that does not exist: nothing to commit, success, no message.
  const std::string before = head();
  EXPECT_EQ(wikidb_delete_page(h_, "Never", nullptr, nullptr), 0);
  EXPECT_STREQ(wikidb_last_error(), "");
  EXPECT_EQ(head(), before);
}

TEST_F(Pages, DeleteInAnEmptyWiki) {
  EXPECT_EQ(wikidb_delete_page(h_, "Never", nullptr, nullptr), 0) << wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "");
}

// Every entry below the temporary directory other than the wiki itself.
std::string outside_entries(const testutil::TempDir &tmp) {
  return testutil::sh("cd " + testutil::shq(tmp.path()) + " && find . -path ./wiki -prune -o -print | sort");
}

TEST_F(Pages, TraversalTitlesTouchNothing) {
  save("Inside", "x");
  const std::string git_before = testutil::sh("cd " + testutil::shq(root_) + "/.git && find . | sort");
  const std::string outside_before = outside_entries(tmp_);
  const int commits = commit_count();
  for (const char *bad : {"../.git/x/T", "../../escape", "/etc/passwd", "a/../../b", ".git/config",
                          "sub/.GIT/hooks/pre-commit", "trailing/", "a//b", ".", "x/./y"}) {
    EXPECT_EQ(wikidb_save_page(h_, bad, "evil", nullptr, nullptr), -1) << bad;
    EXPECT_STREQ(wikidb_last_error(), "Invalid title");
    EXPECT_EQ(wikidb_get_page(h_, bad), nullptr);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_get_page");
    EXPECT_EQ(wikidb_delete_page(h_, bad, nullptr, nullptr), -1);
    EXPECT_STREQ(wikidb_last_error(), "Invalid parameters to wikidb_delete_page");
  }
  EXPECT_EQ(outside_entries(tmp_), outside_before);
  // Only the writer's lock file may have appeared inside .git.
  std::string git_after = testutil::sh("cd " + testutil::shq(root_) + "/.git && find . | grep -v '^./wikidb.lock$' | sort");
  std::string git_before_clean = git_before;
  size_t at = git_before_clean.find("./wikidb.lock\n");
  if (at != std::string::npos) git_before_clean.erase(at, 14);
  EXPECT_EQ(git_after, git_before_clean);
  EXPECT_EQ(commit_count(), commits);
  EXPECT_EQ(git("ls-files"), "pages/Inside.wiki\n");
}

TEST_F(Pages, TitlesTooLongForTheirPathsAreRefused) {
  const std::string long_title(589, 't');  // "pages/" + 589 + ".wiki" is 600 bytes
  EXPECT_EQ(wikidb_save_page(h_, long_title.c_str(), "x", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid title");
  EXPECT_EQ(git("status --porcelain --untracked-files=all"), "");
  // One byte shorter fits and round-trips (in 200-byte directories).
  std::string fits;
  while (fits.size() < 588) fits += (fits.size() % 201 == 200) ? '/' : 'f';
  save(fits.c_str(), "deep");
  EXPECT_STREQ(wikidb_get_page(h_, fits.c_str()), "deep");
}

TEST_F(Pages, SymbolicLinksBelowTheRootAreNeverFollowed) {
  testutil::TempDir outside;
  const std::string target = outside / "secret.wiki";
  testutil::write_file(target, "untouched");
  ASSERT_EQ(symlink(outside.path().c_str(), page_file("sub").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), page_file("Link.wiki").c_str()), 0);

  // A directory link on the way: no write, no read, no removal outside.
  EXPECT_EQ(wikidb_save_page(h_, "sub/secret", "evil", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), ("Failed to open file for writing: " + page_file("sub/secret.wiki")).c_str());
  EXPECT_EQ(wikidb_save_page(h_, "sub/new", "evil", nullptr, nullptr), -1);
  EXPECT_FALSE(exists(outside / "new.wiki"));
  EXPECT_EQ(wikidb_get_page(h_, "sub/secret"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: sub/secret");
  wikidb_delete_page(h_, "sub/secret", nullptr, nullptr);
  EXPECT_EQ(read_file(target), "untouched");

  // The page file itself a link.
  EXPECT_EQ(wikidb_save_page(h_, "Link", "evil", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), ("Failed to open file for writing: " + page_file("Link.wiki")).c_str());
  EXPECT_EQ(wikidb_get_page(h_, "Link"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: Link");
  EXPECT_EQ(read_file(target), "untouched");

  // The pages directory itself a link.
  testutil::sh("rm -rf " + testutil::shq(root_ + "/pages"));
  ASSERT_EQ(symlink(outside.path().c_str(), (root_ + "/pages").c_str()), 0);
  EXPECT_EQ(wikidb_save_page(h_, "secret", "evil", nullptr, nullptr), -1);
  EXPECT_EQ(wikidb_get_page(h_, "secret"), nullptr);
  wikidb_delete_page(h_, "secret", nullptr, nullptr);
  EXPECT_EQ(read_file(target), "untouched");
  EXPECT_EQ(testutil::sh("ls -A " + testutil::shq(outside.path())), "secret.wiki\n");
}

TEST_F(Pages, ReadingSomethingThatIsNotAFileFindsNoPage) {
  ASSERT_EQ(mkfifo(page_file("Fifo.wiki").c_str(), 0644), 0);  // must not hang
  EXPECT_EQ(wikidb_get_page(h_, "Fifo"), nullptr);
  EXPECT_STREQ(wikidb_last_error(), "Page not found: Fifo");
  ASSERT_EQ(mkdir(page_file("Dir.wiki").c_str(), 0755), 0);
  EXPECT_EQ(wikidb_get_page(h_, "Dir"), nullptr);
  EXPECT_EQ(wikidb_save_page(h_, "Dir", "x", nullptr, nullptr), -1);
}

TEST_F(Pages, SaveIsAtomicAndLeavesNoTemporaryFile) {
  save("P", "old text");
  // A full disk, simulated by a file-size limit: the write fails part way.
  struct rlimit_guard {
    rlimit old;
    rlimit_guard() {
      getrlimit(RLIMIT_FSIZE, &old);
      // Room for the journal (well under 64 bytes), not for the new text.
      rlimit small = {64, old.rlim_max};
      signal(SIGXFSZ, SIG_IGN);
      setrlimit(RLIMIT_FSIZE, &small);
    }
    ~rlimit_guard() {
      setrlimit(RLIMIT_FSIZE, &old);
      signal(SIGXFSZ, SIG_DFL);
    }
  };
  {
    rlimit_guard limit;
    EXPECT_EQ(wikidb_save_page(h_, "P", std::string(200, 'n').c_str(), nullptr, nullptr), -1);
  }
  EXPECT_STREQ(wikidb_last_error(), ("Failed to write content to: " + page_file("P.wiki")).c_str());
  EXPECT_EQ(read_file(page_file("P.wiki")), "old text");
  EXPECT_EQ(testutil::sh("ls -A " + testutil::shq(root_ + "/pages")), "P.wiki\n");
  EXPECT_STREQ(wikidb_get_page(h_, "P"), "old text");
}

TEST_F(Pages, SaveKeepsThePageFilesMode) {
  save("P", "one");
  chmod(page_file("P.wiki").c_str(), 0640);
  save("P", "two");
  struct stat st;
  ASSERT_EQ(stat(page_file("P.wiki").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Pages, SaveIntoAnUnwritableDirectoryFailsNamingThePageFile) {
  chmod((root_ + "/pages").c_str(), 0555);
  const std::string expected = "Failed to open file for writing: " + page_file("P.wiki");
  if (geteuid() != 0) {
    EXPECT_EQ(wikidb_save_page(h_, "P", "x", nullptr, nullptr), -1);
    EXPECT_EQ(wikidb_last_error(), expected);
  } else {
    // Root writes whatever the mode says: the save runs in a child that
    // has become an ordinary user, to whom the directory is read-only.
    chmod(tmp_.path().c_str(), 0755);  // only for the way in
    // The repository is that user's, so only the page's directory stands
    // in the way (the journal under .git must be writable).
    testutil::sh("chown -R 65534:65534 " + testutil::shq(root_));
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(90);
      int rc = wikidb_save_page(h_, "P", "x", nullptr, nullptr);
      if (rc != -1 || expected != wikidb_last_error()) {
        fprintf(stderr, "save returned %d: %s\n", rc, wikidb_last_error());
        _exit(1);
      }
      _exit(0);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    if (WEXITSTATUS(st) == 90) GTEST_SKIP() << "this root may not become user 65534 (setuid failed)";
    EXPECT_EQ(WEXITSTATUS(st), 0) << "the save as an ordinary user did not fail as it should";
  }
  EXPECT_FALSE(testutil::exists(page_file("P.wiki")));
  chmod((root_ + "/pages").c_str(), 0755);
}

}  // namespace
