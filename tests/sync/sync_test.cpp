// Sync against real remotes: a bare repository on the same disk (plain path
// and file://) and git daemon on 127.0.0.1.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "store/journal.h"
#include "sync_support.h"
#include "testutil.h"
#include "wikidb.h"

using nlohmann::json;
using testutil::git;
using testutil::sh;
using testutil::shq;
using synctest::trim;

namespace {

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    central_ = tmp_ / "central.git";
    sh("git init -q --bare " + shq(central_));
  }
  void TearDown() override {
    for (wikidb_handle *h : wikis_) wikidb_close(h);
  }
  // A new wiki syncing with url as "origin".
  wikidb_handle *wiki(const std::string &name, const std::string &url) {
    std::string root = tmp_ / name;
    wikidb_handle *h = wikidb_open(root.c_str());
    EXPECT_NE(h, nullptr) << wikidb_last_error();
    if (!h) return nullptr;
    wikis_.push_back(h);
    roots_.push_back(root);
    EXPECT_EQ(wikidb_remote_set(h, "origin", url.c_str(), "main"), 0) << wikidb_last_error();
    return h;
  }
  std::string root_of(wikidb_handle *h) {
    for (size_t i = 0; i < wikis_.size(); i++)
      if (wikis_[i] == h) return roots_[i];
    return "";
  }
  json sync(wikidb_handle *h, int flags = 0, int want = 0) {
    int rc = wikidb_sync(h, "origin", flags);
    EXPECT_EQ(rc, want) << wikidb_last_error();
    const char *r = wikidb_sync_report(h);
    return r ? json::parse(r) : json();
  }
  void save(wikidb_handle *h, const char *title, const char *text, const char *author) {
    ASSERT_EQ(wikidb_save_page(h, title, text, author, nullptr), 0) << wikidb_last_error();
  }
  std::string head(wikidb_handle *h) { return trim(git(root_of(h), "rev-parse HEAD")); }
  // Two wikis that share Home, then each change its second line: a's change
  // is pushed first, so b's next sync meets a conflict.
  void conflicting_edits(wikidb_handle *a, wikidb_handle *b) {
    save(a, "Home", "one\ntwo\n", "Alice");
    sync(a);
    sync(b);
    save(a, "Home", "one\nALICE\n", "Alice");
    save(b, "Home", "one\nBOB\n", "Bob");
  }
  std::string central_tip() { return trim(git(central_, "rev-parse -q --verify refs/heads/main")); }
  // No merge or rebase state, nothing staged or changed in the work tree.
  void expect_clean(wikidb_handle *h) {
    std::string r = root_of(h);
    for (const char *f : {"MERGE_HEAD", "rebase-merge", "rebase-apply", "CHERRY_PICK_HEAD",
                          "wikidb-journal"})
      EXPECT_FALSE(testutil::exists(r + "/.git/" + f)) << f;
    EXPECT_EQ(git(r, "status --porcelain"), "");
    // No lock file of git's or of the sync's own refs is left either (the
    // writer lock's own file stays; it is locked, not created, by a writer).
    EXPECT_EQ(sh("cd " + testutil::shq(r) + "/.git && find . -name '*.lock' ! -path ./wikidb.lock"), "");
    int status = -1;
    git(r, "fsck --full 2>&1", &status);
    EXPECT_EQ(status, 0);
  }

  testutil::TempDir tmp_;
  std::string central_;
  std::vector<wikidb_handle *> wikis_;
  std::vector<std::string> roots_;
};

TEST_F(SyncTest, PathAndFileUrlsPushFastForwardAndMergeKeepingAuthors) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", "file://" + central_);
  save(a, "Home", "hello\n", "Alice <alice@example.org>");
  json r = sync(a);
  EXPECT_EQ(r["state"], "pushed");
  EXPECT_EQ(r["ahead"], 1);
  EXPECT_EQ(central_tip(), head(a));

  r = sync(b);
  EXPECT_EQ(r["state"], "fast_forward");
  EXPECT_EQ(r["pages_changed"], json::array({"Home"}));
  EXPECT_EQ(testutil::read_file(root_of(b) + "/pages/Home.wiki"), "hello\n");
  expect_clean(b);
  // The user's remote-tracking refs are never written.
  EXPECT_EQ(git(root_of(b), "for-each-ref refs/remotes"), "");

  save(a, "A", "from a\n", "Alice <alice@example.org>");
  save(b, "B", "from b\n", "Bob <bob@example.org>");
  EXPECT_EQ(sync(a)["state"], "pushed");
  r = sync(b);
  EXPECT_EQ(r["state"], "merged");
  EXPECT_EQ(r["ahead"], 1);
  EXPECT_EQ(r["behind"], 1);
  EXPECT_EQ(r["pages_changed"], json::array({"A"}));
  EXPECT_EQ(central_tip(), head(b));
  EXPECT_EQ(trim(git(root_of(b), "rev-list --parents -n1 HEAD")).size(), 3 * 40 + 2u);
  expect_clean(b);
  r = sync(a);
  EXPECT_EQ(r["state"], "fast_forward");
  EXPECT_EQ(testutil::read_file(root_of(a) + "/pages/B.wiki"), "from b\n");
  EXPECT_EQ(head(a), head(b));
  // Real authors in the wiki's own reports.
  json recent = json::parse(wikidb_get_recent_changes_json(a, 10));
  bool alice_a = false, bob_b = false;
  for (auto &e : recent) {
    alice_a = alice_a || (e["page"] == "A" && e["author"] == "Alice");
    bob_b = bob_b || (e["page"] == "B" && e["author"] == "Bob");
  }
  EXPECT_TRUE(alice_a && bob_b) << recent.dump();
  EXPECT_EQ(sync(a)["state"], "up_to_date");
  expect_clean(a);
}

TEST_F(SyncTest, ConflictChangesNothingAndIsResolvedOnlyByTheHost) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  conflicting_edits(a, b);
  sync(a);
  const std::string before = head(b);
  json r = sync(b, 0, WIKIDB_CONFLICT);
  EXPECT_EQ(r["state"], "conflict");
  ASSERT_EQ(r["conflicts"].size(), 1u);
  json c = r["conflicts"][0];
  EXPECT_EQ(c["page"], "Home");
  EXPECT_EQ(c["ours"], trim(git(root_of(b), "log -1 --format=%H -- pages/Home.wiki")));
  EXPECT_EQ(c["theirs"], head(a));
  EXPECT_EQ(c["base_text"], "one\ntwo\n");
  EXPECT_EQ(c["ours_text"], "one\nBOB\n");
  EXPECT_EQ(c["theirs_text"], "one\nALICE\n");
  EXPECT_NE(c["merged_text"].get<std::string>().find("<<<<<<< ours\nBOB\n=======\nALICE\n>>>>>>> theirs"),
            std::string::npos);
  // Nothing changed here, nothing half-merged, no markers in the page.
  EXPECT_EQ(head(b), before);
  EXPECT_EQ(testutil::read_file(root_of(b) + "/pages/Home.wiki"), "one\nBOB\n");
  expect_clean(b);
  EXPECT_EQ(central_tip(), head(a));

  // A save that is not a resolution settles nothing: reported again.
  save(b, "Home", "one\nBOB\nmore\n", "Bob");
  r = sync(b, 0, WIKIDB_CONFLICT);
  ASSERT_EQ(r["conflicts"].size(), 1u);
  const std::string ours = r["conflicts"][0]["ours"];
  // The remote side moves again: the resolution of the old report is stale.
  save(a, "Home", "one\nALICE\nagain\n", "Alice");
  sync(a);
  EXPECT_EQ(wikidb_sync_resolve(b, "origin", "Home", "one\nALICE\nBOB\n", "Bob", nullptr), 0)
      << wikidb_last_error();
  r = sync(b, 0, WIKIDB_CONFLICT);
  ASSERT_EQ(r["conflicts"].size(), 1u);
  EXPECT_EQ(r["conflicts"][0]["theirs_text"], "one\nALICE\nagain\n");
  // Resolved against the current report: merged, pushed, reaches the other wiki.
  EXPECT_EQ(wikidb_sync_resolve(b, "origin", "Home", "one\nALICE\nagain\nBOB\n", "Bob", nullptr),
            0)
      << wikidb_last_error();
  r = sync(b);
  EXPECT_EQ(r["state"], "merged");
  EXPECT_EQ(central_tip(), head(b));
  EXPECT_EQ(sync(a)["state"], "fast_forward");
  EXPECT_EQ(testutil::read_file(root_of(a) + "/pages/Home.wiki"), "one\nALICE\nagain\nBOB\n");
  expect_clean(a);
  expect_clean(b);
  EXPECT_EQ(wikidb_sync_resolve(b, "origin", "Other", "x", nullptr, nullptr), -1);
  EXPECT_STREQ(wikidb_last_error(), "No sync conflict recorded for page: Other");
}

// After a resolved conflict the merge holds this side's text of the page, so
// git's default history simplification would walk this side only: the other
// writer's edit would vanish from every history, on both wikis.
TEST_F(SyncTest, EveryEditOfBothSidesStaysInTheHistoriesAfterAMerge) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  conflicting_edits(a, b);
  save(b, "Side", "b only\n", "Bob");
  sync(a);
  sync(b, 0, WIKIDB_CONFLICT);
  ASSERT_EQ(wikidb_sync_resolve(b, "origin", "Home", "one\nBOB\nALICE\n", "Bob", nullptr), 0)
      << wikidb_last_error();
  EXPECT_EQ(sync(b)["state"], "merged");
  EXPECT_EQ(sync(a)["state"], "fast_forward");
  for (wikidb_handle *h : {a, b}) {
    const std::string root = root_of(h);
    // Every commit that changed the page, or any page, on either side.
    const std::vector<std::string> page_edits =
        synctest::lines(git(root, "rev-list --no-merges --full-history HEAD -- pages/Home.wiki"));
    const std::vector<std::string> all_edits = synctest::lines(git(root, "rev-list --no-merges HEAD"));
    ASSERT_EQ(page_edits.size(), 4u);
    auto hashes_of = [](const json &entries) {
      std::vector<std::string> out;
      for (auto &e : entries) out.push_back(e["hash"]);
      return out;
    };
    auto has_all = [](const std::vector<std::string> &seen, const std::vector<std::string> &want) {
      for (auto &w : want)
        if (std::find(seen.begin(), seen.end(), w) == seen.end())
          return ::testing::AssertionFailure() << "missing " << w;
      return ::testing::AssertionSuccess();
    };
    EXPECT_TRUE(has_all(hashes_of(json::parse(wikidb_get_history_json(h, "Home"))), page_edits))
        << root;
    EXPECT_TRUE(has_all(hashes_of(json::parse(wikidb_get_recent_changes_json(h, 50))), all_edits))
        << root;
    // The paged reads, two entries a page, walked to the end.
    for (int whole = 0; whole < 2; whole++) {
      std::vector<std::string> seen;
      std::string cursor;
      for (int page = 0; page < 20; page++) {
        const char *text =
            whole ? wikidb_recent_page_json(h, cursor.c_str(), 2, nullptr, nullptr)
                  : wikidb_history_page_json(h, "Home", cursor.c_str(), 2, nullptr, nullptr,
                                             nullptr, 0);
        ASSERT_NE(text, nullptr) << wikidb_last_error();
        json j = json::parse(text);
        for (auto &hash : hashes_of(j["entries"])) seen.push_back(hash);
        if (j["next"].is_null()) break;
        cursor = j["next"];
      }
      EXPECT_TRUE(has_all(seen, whole ? all_edits : page_edits)) << root << " whole=" << whole;
      std::vector<std::string> unique = seen;
      std::sort(unique.begin(), unique.end());
      EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << "an entry repeated";
    }
  }
}

TEST_F(SyncTest, DeleteAgainstEditIsAConflictToo) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  save(a, "P", "text\n", nullptr);
  sync(a);
  sync(b);
  ASSERT_EQ(wikidb_delete_page(a, "P", nullptr, nullptr), 0);
  save(b, "P", "text\nedited\n", nullptr);
  sync(a);
  json r = sync(b, 0, WIKIDB_CONFLICT);
  ASSERT_EQ(r["conflicts"].size(), 1u);
  EXPECT_EQ(r["conflicts"][0]["theirs"], "");
  EXPECT_TRUE(r["conflicts"][0]["theirs_text"].is_null());
  EXPECT_TRUE(testutil::exists(root_of(b) + "/pages/P.wiki"));
  expect_clean(b);
}

TEST_F(SyncTest, ModesAndFlags) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  save(a, "A", "a\n", nullptr);
  json r = sync(a, WIKIDB_SYNC_PULL_ONLY);
  EXPECT_EQ(r["state"], "up_to_date");
  EXPECT_EQ(r["ahead"], 1);
  EXPECT_EQ(central_tip(), "");
  EXPECT_EQ(sync(a, WIKIDB_SYNC_PUSH_ONLY)["state"], "pushed");
  EXPECT_EQ(sync(b, WIKIDB_SYNC_PULL_ONLY)["state"], "fast_forward");
  save(b, "B", "b\n", nullptr);
  save(a, "A", "a2\n", nullptr);
  sync(a);
  EXPECT_EQ(wikidb_sync(b, "origin", WIKIDB_SYNC_PUSH_ONLY), -1);
  EXPECT_STREQ(wikidb_last_error(), "The remote has changes the wiki lacks: sync without push-only first");
  EXPECT_EQ(wikidb_sync_report(b), nullptr);
  EXPECT_EQ(wikidb_sync(b, "origin", WIKIDB_SYNC_PULL_ONLY | WIKIDB_SYNC_PUSH_ONLY), -1);
  EXPECT_STREQ(wikidb_last_error(), "Invalid flags");
  EXPECT_EQ(wikidb_sync(b, "origin", 64), -1);
  EXPECT_EQ(wikidb_sync(b, "nosuch", 0), -1);
  EXPECT_STREQ(wikidb_last_error(), "Unknown remote: nosuch");
  EXPECT_EQ(wikidb_sync(nullptr, "origin", 0), -1);
  EXPECT_EQ(sync(b, WIKIDB_SYNC_PULL_ONLY)["state"], "merged");
  EXPECT_NE(central_tip(), head(b));  // pulled, not pushed
  // A remote of the user's own configuration, by its name.
  git(root_of(b), "remote add upstream " + shq(central_));
  ASSERT_EQ(wikidb_remote_set(b, "up", "upstream", "main"), 0);
  EXPECT_EQ(wikidb_sync(b, "up", 0), 0) << wikidb_last_error();
  EXPECT_EQ(central_tip(), head(b));
}

TEST_F(SyncTest, UrlsNeverBecomeOptionsAndCommandTransportsAreRefused) {
  wikidb_handle *a = wiki("a", central_);
  save(a, "A", "a\n", nullptr);
  for (const char *bad : {"-oProxyCommand=touch x", "--upload-pack=touch x", "", "a\nb"}) {
    EXPECT_EQ(wikidb_remote_set(a, "r", bad, nullptr), -1) << bad;
    EXPECT_EQ(std::string(wikidb_last_error()).rfind("Invalid remote URL", 0), 0u);
  }
  for (const char *bad : {"-x", "a b", "a/b", ".hidden", ""})
    EXPECT_EQ(wikidb_remote_set(a, bad, central_.c_str(), nullptr), -1) << bad;
  for (const char *bad : {"-f", "a..b", "x:y", "a b", "x.lock"})
    EXPECT_EQ(wikidb_remote_set(a, "r", central_.c_str(), bad), -1) << bad;
  EXPECT_EQ(wikidb_sync_config(a, "protocol.ext.allow", "always"), -1);
  EXPECT_EQ(wikidb_sync_config(a, "Protocol.allow", "always"), -1);
  EXPECT_EQ(wikidb_sync_config(a, "http.extraHeader", "X-Test: 1"), 0);

  const std::string marker = tmp_ / "ran";
  const std::string ext = "ext::sh -c touch% " + marker;
  ASSERT_EQ(wikidb_remote_set(a, "evil", ext.c_str(), "main"), 0);
  EXPECT_EQ(wikidb_sync(a, "evil", 0), -1);
  EXPECT_EQ(std::string(wikidb_last_error()).rfind("Remote URL names a transport that may run commands", 0), 0u);
  // A URL the user's configuration rewrites into a command is stopped by
  // git itself under the pinned protocol settings.
  git(root_of(a), "config " + shq("url." + ext + ".insteadOf") + " sneaky:");
  ASSERT_EQ(wikidb_remote_set(a, "sneaky", "sneaky:", "main"), 0);
  EXPECT_EQ(wikidb_sync(a, "sneaky", 0), -1);
  EXPECT_EQ(testutil::exists(marker), false);
  {
    // Nor can settings in the host's environment or for this handle.
    testutil::ScopedEnv params("GIT_CONFIG_PARAMETERS",
                               "'protocol.ext.allow'='always' 'protocol.allow'='always'");
    EXPECT_EQ(wikidb_sync_config(a, "url.x.insteadOf", "y"), 0);
    EXPECT_EQ(wikidb_sync(a, "sneaky", 0), -1);
    EXPECT_EQ(testutil::exists(marker), false);
  }
  // An option smuggled through a remote name stored by hand is still a URL.
  git(root_of(a), "config wikidb-remote.opt.url --upload-pack=touch%20" + shq(marker));
  EXPECT_EQ(wikidb_sync(a, "opt", 0), -1);
  EXPECT_STREQ(wikidb_last_error(), ("Invalid remote URL: --upload-pack=touch%20" + marker).c_str());
  EXPECT_FALSE(testutil::exists(marker));
}

TEST_F(SyncTest, UnrelatedHistoryNeedsTheFlagAndForcePushIsReported) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  save(a, "A", "a\n", "Alice");
  sync(a);
  save(b, "B", "b\n", "Bob");  // b's own first commit: no common history
  const std::string before = head(b);
  EXPECT_EQ(wikidb_sync(b, "origin", 0), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("unrelated"), std::string::npos);
  EXPECT_EQ(head(b), before);
  expect_clean(b);
  json r = sync(b, WIKIDB_SYNC_ALLOW_UNRELATED);
  EXPECT_EQ(r["state"], "merged");
  EXPECT_EQ(trim(git(root_of(b), "rev-list --max-parents=0 HEAD | wc -l")), "2");
  sync(a);

  // The central branch is rewritten: a's commits since are dropped there.
  save(a, "A", "a2\n", "Alice");
  sync(a);
  const std::string old = trim(git(central_, "rev-parse main~1"));
  git(central_, "update-ref refs/heads/main " + old);
  save(b, "C", "c\n", "Bob");
  r = sync(b);  // b never saw the dropped commit: nothing rewritten for it
  EXPECT_EQ(r["rewritten"], false);
  r = sync(a);
  EXPECT_EQ(r["rewritten"], true);
  // Nothing of a's is lost: its dropped commit is merged back and pushed.
  EXPECT_EQ(testutil::read_file(root_of(a) + "/pages/A.wiki"), "a2\n");
  EXPECT_EQ(central_tip(), head(a));
  EXPECT_EQ(sync(b)["rewritten"], false);
  EXPECT_EQ(testutil::read_file(root_of(b) + "/pages/A.wiki"), "a2\n");
  // The branch deleted at the remote: pushed again, and reported.
  git(central_, "update-ref -d refs/heads/main");
  r = sync(b);
  EXPECT_EQ(r["state"], "pushed");
  EXPECT_EQ(r["rewritten"], true);
  EXPECT_EQ(central_tip(), head(b));
}

TEST_F(SyncTest, PushRefusedByHookFailsAndLaterSucceeds) {
  wikidb_handle *a = wiki("a", central_);
  save(a, "A", "a\n", nullptr);
  testutil::write_file(central_ + "/hooks/pre-receive", "#!/bin/sh\necho no pushes today >&2\nexit 1\n");
  sh("chmod +x " + shq(central_ + "/hooks/pre-receive"));
  EXPECT_EQ(wikidb_sync(a, "origin", 0), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("no pushes today"), std::string::npos)
      << wikidb_last_error();
  EXPECT_EQ(central_tip(), "");
  expect_clean(a);
  sh("rm " + shq(central_ + "/hooks/pre-receive"));
  EXPECT_EQ(sync(a)["state"], "pushed");
  EXPECT_EQ(central_tip(), head(a));
}

TEST_F(SyncTest, GitDaemonServerStoppedAndCutMidPush) {
  synctest::Daemon d(tmp_.path());
  if (!d.start()) GTEST_SKIP() << "git daemon did not listen on 127.0.0.1";
  wikidb_handle *a = wiki("a", d.url("central.git"));
  wikidb_handle *b = wiki("b", d.url("central.git"));
  save(a, "A", "a\n", "Alice");
  EXPECT_EQ(sync(a)["state"], "pushed");
  EXPECT_EQ(sync(b)["state"], "fast_forward");

  // The server is down: the sync fails, nothing here changes, and the next
  // sync once it is back simply completes.
  save(a, "A", "a2\n", "Alice");
  save(b, "B", "b\n", "Bob");
  sync(a);
  int port = d.port();
  d.stop();
  const std::string before = head(b);
  EXPECT_EQ(wikidb_sync(b, "origin", 0), -1);
  EXPECT_EQ(head(b), before);
  expect_clean(b);
  ASSERT_TRUE(d.start(port));

  // The connection cut while the push is received: receive-pack is killed.
  testutil::write_file(central_ + "/hooks/pre-receive",
                       "#!/bin/sh\nkill -9 $PPID\nsleep 1\nexit 1\n");
  sh("chmod +x " + shq(central_ + "/hooks/pre-receive"));
  EXPECT_EQ(wikidb_sync(b, "origin", 0), -1);
  // Integrated here (the merge stands), not pushed.
  EXPECT_NE(head(b), before);
  EXPECT_NE(central_tip(), head(b));
  expect_clean(b);
  sh("rm " + shq(central_ + "/hooks/pre-receive"));
  json r = sync(b);
  EXPECT_EQ(r["state"], "pushed");
  EXPECT_EQ(central_tip(), head(b));
  EXPECT_EQ(sync(a)["state"], "fast_forward");
  EXPECT_EQ(head(a), head(b));
  int status = -1;
  git(central_, "fsck --full 2>&1", &status);
  EXPECT_EQ(status, 0);
}

// Links and submodules of someone's commit: never written to the disk, but
// their index entries follow, so the next save does not undo them under its
// own author.
TEST_F(SyncTest, LinksAndSubmodulesOfARemoteCommitAreNeverUndoneByTheNextSave) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  save(a, "Home", "home\n", "Alice");
  sync(a);
  sync(b);
  const std::string w = tmp_ / "person";
  sh("git clone -q -b main " + shq(central_) + " " + shq(w) + " && cd " + shq(w) +
     " && ln -s Home.wiki pages/Link.wiki && git add pages/Link.wiki"
     " && git update-index --add --cacheinfo 160000," + head(a) + ",pages/sub"
     " && git -c user.name=P -c user.email=p@x commit -qm 'a link and a submodule'"
     " && git push -q origin HEAD:main");
  json r = sync(b);
  EXPECT_EQ(r["state"], "fast_forward");
  EXPECT_EQ(r["pages_changed"], json::array()) << "a link is no page";
  EXPECT_FALSE(testutil::exists(root_of(b) + "/pages/Link.wiki"));
  EXPECT_EQ(git(root_of(b), "diff --cached --name-only"), "");
  save(b, "Other", "x\n", "Bob");
  EXPECT_EQ(git(root_of(b), "show --name-only --format= HEAD"), "pages/Other.wiki\n");
  EXPECT_EQ(git(root_of(b), "ls-tree -r '--format=%(objectmode)' HEAD -- pages/Link.wiki pages/sub"),
            "120000\n160000\n");
  // The same when the sync is a merge, and when a killed writer's repair
  // brings such a path back to HEAD.
  save(a, "A", "a\n", "Alice");
  sync(a);
  save(b, "B", "b\n", "Bob");
  EXPECT_EQ(sync(b)["state"], "merged");
  EXPECT_EQ(sync(a)["state"], "fast_forward");
  EXPECT_EQ(git(root_of(a), "diff --cached --name-only"), "");
  EXPECT_FALSE(testutil::exists(root_of(a) + "/pages/Link.wiki"));
  const char *paths[] = {"pages/Link.wiki", "pages/sub"};
  git(root_of(a), "rm -q --cached pages/Link.wiki pages/sub");
  ASSERT_EQ(journal_begin(a, 'T', paths, 2), 0);
  save(a, "C", "c\n", "Alice");
  EXPECT_EQ(git(root_of(a), "show --name-only --format= HEAD"), "pages/C.wiki\n");
  EXPECT_FALSE(testutil::exists(root_of(a) + "/pages/Link.wiki"));
}

// A crafted commit (no git command makes one, but a remote takes it) with a
// path git refuses would write into the repository or outside the wiki: the
// sync fails and nothing moves.
TEST_F(SyncTest, ARemoteCommitWithAPathGitRefusesIsNotTaken) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  save(a, "Home", "home\n", "Alice");
  sync(a);
  sync(b);
  for (const char *bad : {".git", ".GIT", "..", "git~1"}) {
    const std::string blob = trim(sh("echo '[core] fsmonitor = touch pwned' | git -C " +
                                     shq(central_) + " hash-object -w --stdin"));
    const std::string inner = trim(sh("printf '100644 blob " + blob + "\\tconfig\\n' | git -C " +
                                      shq(central_) + " mktree"));
    const std::string tip = central_tip();
    const std::string tree = trim(sh("(git -C " + shq(central_) + " ls-tree " + tip +
                                     "; printf '040000 tree " + inner + "\\t" + bad +
                                     "\\n') | git -C " + shq(central_) + " mktree"));
    const std::string evil = trim(sh("git -C " + shq(central_) + " commit-tree " + tree + " -p " +
                                     tip + " -m evil"));
    ASSERT_EQ(evil.size(), 40u) << bad;
    git(central_, "update-ref refs/heads/main " + evil);
    const std::string before = head(b);
    EXPECT_EQ(wikidb_sync(b, "origin", 0), -1) << bad;
    EXPECT_EQ(std::string(wikidb_last_error()),
              "The remote's commit holds a path git refuses: " + std::string(bad) + "/config");
    EXPECT_EQ(head(b), before);
    EXPECT_EQ(testutil::read_file(root_of(b) + "/.git/config").find("pwned"), std::string::npos);
    EXPECT_FALSE(testutil::exists(tmp_ / "config")) << "written outside the wiki";
    expect_clean(b);
    git(central_, "update-ref refs/heads/main " + tip);
  }
}

// Smart HTTP, with a server that wants a token: without the handle's
// setting the sync fails at once (no prompt, nothing changed); with it, it
// works, and the process's environment never holds it.
TEST_F(SyncTest, SmartHttpWithCredentialsPerHandle) {
  synctest::HttpServer server(tmp_.path(), "s3cret-token");
  if (!server.start()) GTEST_SKIP() << "python3 with git http-backend did not listen on 127.0.0.1";
  const std::string url = server.url("central.git");
  wikidb_handle *a = wiki("a", url);
  wikidb_handle *b = wiki("b", url);
  save(a, "Home", "one\ntwo\n", "Alice <alice@example.org>");
  const std::string before = head(a);
  EXPECT_EQ(wikidb_sync(a, "origin", 0), -1);
  EXPECT_NE(std::string(wikidb_last_error()).find("git command failed"), std::string::npos)
      << wikidb_last_error();
  EXPECT_EQ(head(a), before);
  EXPECT_EQ(central_tip(), "");
  expect_clean(a);

  for (wikidb_handle *h : {a, b})
    ASSERT_EQ(wikidb_sync_config(h, "http.extraHeader", "Authorization: Bearer s3cret-token"), 0)
        << wikidb_last_error();
  EXPECT_EQ(sync(a)["state"], "pushed");
  EXPECT_EQ(central_tip(), head(a));
  EXPECT_EQ(sync(b)["state"], "fast_forward");
  save(a, "Home", "one\ntwo\nA\n", "Alice <alice@example.org>");
  save(b, "Home", "B\none\ntwo\n", "Bob <bob@example.org>");
  EXPECT_EQ(sync(a)["state"], "pushed");
  EXPECT_EQ(sync(b)["state"], "merged");
  EXPECT_EQ(sync(a)["state"], "fast_forward");
  EXPECT_EQ(testutil::read_file(root_of(a) + "/pages/Home.wiki"), "B\none\ntwo\nA\n");
  expect_clean(a);
  expect_clean(b);
  // The token went to the gits of the sync only.
  for (const char *name : {"GIT_CONFIG_COUNT", "GIT_CONFIG_KEY_0", "GIT_TERMINAL_PROMPT"})
    EXPECT_EQ(getenv(name), nullptr) << name;
  EXPECT_EQ(git(root_of(a), "config --get-regexp extraheader"), "");
}

TEST_F(SyncTest, KilledMidSyncLeavesNothingHalfApplied) {
  wikidb_handle *a = wiki("a", central_);
  wikidb_handle *b = wiki("b", central_);
  for (int i = 0; i < 5; i++) {
    std::string t = "P" + std::to_string(i);
    save(a, t.c_str(), ("text " + t + "\n").c_str(), nullptr);
  }
  sync(a);
  sync(b);
  // b's sync process is killed at points spread over a sync's whole run
  // (fetch, integration, publish, push); each time the next sync completes
  // what the last began.
  int cut_short = 0;
  for (int round = 0; round < 20; round++) {
    save(b, ("B" + std::to_string(round)).c_str(), "b\n", nullptr);
    save(a, ("A" + std::to_string(round)).c_str(), "a\n", nullptr);
    sync(a);
    pid_t pid = fork();
    if (pid == 0) {
      wikidb_handle *h = wikidb_open(root_of(b).c_str());
      int rc = h ? wikidb_sync(h, "origin", 0) : -1;
      _exit(rc == 0 ? 0 : 1);
    }
    // 0 to 95 ms, in an order that mixes early and late points.
    usleep(5000 * ((round * 7) % 20));
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) cut_short++;
    json r = sync(b);
    EXPECT_NE(r["state"], "conflict");
    EXPECT_EQ(central_tip(), head(b));
    expect_clean(b);
    for (int i = 0; i <= round; i++)
      EXPECT_EQ(testutil::read_file(root_of(b) + "/pages/A" + std::to_string(i) + ".wiki"), "a\n");
    sync(a);
  }
  // Both wikis end with every page both writers saved.
  for (int i = 0; i < 20; i++)
    for (const char *side : {"A", "B"})
      EXPECT_EQ(git(root_of(a), "show HEAD:pages/" + std::string(side) + std::to_string(i) + ".wiki"),
                std::string(*side == 'A' ? "a\n" : "b\n"));
  EXPECT_GT(cut_short, 0) << "no sync was interrupted";
}

}  // namespace
