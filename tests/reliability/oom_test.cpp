// Every exported function with its nth allocation failing, for n = 1, 2, ...
// until the call no longer reaches n allocations. Each call must give either
// its full success value or one of its documented failure values, with a
// message where the function promises one, and nothing may be left
// allocated once the handle is closed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>

#include "failing_alloc.h"
#include "testutil.h"
#include "wikidb.h"

using namespace testutil;

namespace {

std::string text_of(const char *json) {
  EXPECT_NE(json, nullptr) << wikidb_last_error();
  return json ? json : "";
}

// A wiki with a page of two commits and a second page, and the answers of
// the queries on it, read without faults.
struct Wiki {
  TempDir dir;
  std::string root = dir / "wiki";
  std::string c1, c2;
  std::string list, history, recent, revision, diff;
  std::string page_history, wiki_history, recent_page, search, deleted, blame;

  Wiki() {
    wikidb_handle *h = wikidb_open(root.c_str());
    EXPECT_NE(h, nullptr) << wikidb_last_error();
    EXPECT_EQ(wikidb_save_page(h, "Alpha", "first\n", "Ann", "one"), 0);
    EXPECT_EQ(wikidb_save_page(h, "Alpha", "second\n", "Ann", "two"), 0);
    EXPECT_EQ(wikidb_save_page(h, "sub/Beta", "beta\n", "Bob <bob@example.org>", "three"), 0);
    EXPECT_EQ(wikidb_save_page(h, "Gone", "g\n", nullptr, nullptr), 0);
    EXPECT_EQ(wikidb_delete_page(h, "Gone", nullptr, nullptr), 0);
    c1 = git(root, "rev-parse HEAD~4");
    c2 = git(root, "rev-parse HEAD~3");
    c1.pop_back();
    c2.pop_back();
    list = wikidb_list_pages_json(h, nullptr);
    history = wikidb_get_history_json(h, "Alpha");
    recent = wikidb_get_recent_changes_json(h, 10);
    revision = wikidb_get_revision(h, "Alpha", c1.c_str());
    diff = wikidb_get_diff(h, "Alpha", c1.c_str(), c2.c_str());
    page_history = text_of(wikidb_history_page_json(h, "Alpha", nullptr, 1, nullptr, nullptr, nullptr, WIKIDB_FOLLOW));
    wiki_history = text_of(wikidb_history_page_json(h, nullptr, nullptr, 2, "ann", nullptr, nullptr, 0));
    recent_page = text_of(wikidb_recent_page_json(h, nullptr, 10, nullptr, nullptr));
    search = text_of(wikidb_search_json(h, "\xc3\x9c" "ber second", 10, WIKIDB_SEARCH_TITLES));
    deleted = text_of(wikidb_deleted_pages_json(h));
    blame = text_of(wikidb_blame_json(h, "Alpha", nullptr));
    wikidb_close(h);
  }
};

// One round of a case: the handle, the fault to arm around the library call,
// and the verdict, judged before the handle is closed.
struct Round {
  wikidb_handle *h;
  const Wiki &wiki;
  long n;
  bool hit = false;
  long made = 0;
  bool sound = true;
  char why[512] = "";

  void arm() { failing_alloc::fail_nth(n); }
  void disarm() {
    hit = failing_alloc::failed();
    made = failing_alloc::count();
    failing_alloc::fail_nth(0);
  }
  void unsound(const char *what) {
    sound = false;
    snprintf(why, sizeof why, "%s (error slot: %s)", what, wikidb_last_error());
  }
  // A changing call: 0, or -1 with a message.
  void judge_change(int rc) {
    if (rc != 0 && !(rc == -1 && wikidb_last_error()[0])) unsound("neither 0 nor -1 with a message");
  }
  // A query with a failure value of null plus a message.
  void judge_text(const char *got, const std::string &full) {
    if (got ? full != got : !wikidb_last_error()[0]) unsound("text neither whole nor null with a message");
  }
  // A report, or the diff: exactly the full answer, or the empty answer.
  void judge_whole_or(const char *got, const std::string &full, const char *empty) {
    if (!got || (full != got && strcmp(got, empty) != 0)) unsound("answer neither whole nor empty");
  }
};

struct Case {
  const char *name;
  std::function<void(Round &)> run;
};

// Loops n upward over one case on a wiki of its own; returns how many
// allocations the call made when none failed.
long exhaust(const Case &c) {
  const Wiki wiki;
  for (long n = 1; n < 100000; n++) {
    SCOPED_TRACE(std::string(c.name) + ", allocation " + std::to_string(n) + " failing");
    const long before = failing_alloc::live_blocks();
    Round r{wikidb_open(wiki.root.c_str()), wiki, n};
    if (!r.h) {
      ADD_FAILURE() << "open without faults: " << wikidb_last_error();
      return -1;
    }
    c.run(r);
    wikidb_close(r.h);
    const long leaked = failing_alloc::live_blocks() - before;
    EXPECT_TRUE(r.sound) << r.why;
    EXPECT_EQ(leaked, 0) << "blocks left allocated";
    if (!r.hit) return r.made;
  }
  ADD_FAILURE() << c.name << ": no end to the allocations";
  return -1;
}

const Case kCases[] = {
    {"open",
     [](Round &r) {
       r.arm();
       wikidb_handle *other = wikidb_open(r.wiki.root.c_str());
       r.disarm();
       if (!other && !wikidb_last_error()[0]) r.unsound("null handle without a message");
       wikidb_close(other);
     }},
    {"save",
     [](Round &r) {
       const std::string file = r.wiki.root + "/pages/Alpha.wiki";
       const std::string old = read_file(file);
       const std::string text = "round " + std::to_string(r.n) + "\n";
       r.arm();
       int rc = wikidb_save_page(r.h, "Alpha", text.c_str(), "Cy", nullptr);
       r.disarm();
       r.judge_change(rc);
       const std::string now = read_file(file);
       if (rc == 0 ? now != text : (now != text && now != old)) r.unsound("page file torn");
       if (git(r.wiki.root, "ls-files --others pages") != "") r.unsound("a file left behind");
     }},
    {"get_page",
     [](Round &r) {
       r.arm();
       const char *t = wikidb_get_page(r.h, "Alpha");
       r.disarm();
       r.judge_text(t, read_file(r.wiki.root + "/pages/Alpha.wiki"));
     }},
    {"delete",
     [](Round &r) {
       if (wikidb_save_page(r.h, "Gone", "x\n", nullptr, nullptr) != 0)
         return r.unsound("could not make the page to delete");
       r.arm();
       int rc = wikidb_delete_page(r.h, "Gone", nullptr, nullptr);
       r.disarm();
       r.judge_change(rc);
     }},
    {"get_revision",
     [](Round &r) {
       r.arm();
       const char *t = wikidb_get_revision(r.h, "Alpha", r.wiki.c1.c_str());
       r.disarm();
       r.judge_text(t, r.wiki.revision);
     }},
    {"get_diff",
     [](Round &r) {
       r.arm();
       const char *t = wikidb_get_diff(r.h, "Alpha", r.wiki.c1.c_str(), r.wiki.c2.c_str());
       r.disarm();
       r.judge_whole_or(t, r.wiki.diff, "");
     }},
    {"rollback",
     [](Round &r) {
       const std::string to = r.n % 2 ? r.wiki.c1 : r.wiki.c2;
       r.arm();
       int rc = wikidb_rollback(r.h, "Alpha", to.c_str(), "Dee");
       r.disarm();
       r.judge_change(rc);
     }},
    {"list",
     [](Round &r) {
       r.arm();
       const char *json = wikidb_list_pages_json(r.h, nullptr);
       r.disarm();
       r.judge_whole_or(json, r.wiki.list, "[]");
     }},
    {"history",
     [](Round &r) {
       r.arm();
       const char *json = wikidb_get_history_json(r.h, "Alpha");
       r.disarm();
       r.judge_whole_or(json, r.wiki.history, "[]");
     }},
    {"recent",
     [](Round &r) {
       r.arm();
       const char *json = wikidb_get_recent_changes_json(r.h, 10);
       r.disarm();
       r.judge_whole_or(json, r.wiki.recent, "[]");
     }},
    {"save_page_if",
     [](Round &r) {
       const std::string expected = wikidb_page_revision(r.h, "Alpha");
       const std::string text = "conditional " + std::to_string(r.n) + "\n";
       r.arm();
       int rc = wikidb_save_page_if(r.h, "Alpha", text.c_str(), "Cy", nullptr, expected.c_str(), 0);
       r.disarm();
       r.judge_change(rc);
       const std::string at_head = git(r.wiki.root, "show HEAD:pages/Alpha.wiki");
       if (rc == 0 && at_head != text) r.unsound("saved text not committed");
     }},
    {"stale save_page_if and its report",
     [](Round &r) {
       r.arm();
       int rc = wikidb_save_page_if(r.h, "Alpha", "stale\n", nullptr, nullptr, r.wiki.c1.c_str(),
                                    WIKIDB_MERGE);
       const bool said = wikidb_last_error()[0] != '\0';
       const char *report = wikidb_conflict_json(r.h);
       r.disarm();
       if (rc != WIKIDB_CONFLICT && !(rc == -1 && said))
         r.unsound(("neither a conflict nor -1 with a message: " + std::to_string(rc)).c_str());
       if (!report || report[0] != '{') r.unsound("no report");
     }},
    {"page_revision, last_commit",
     [](Round &r) {
       r.arm();
       const char *last = wikidb_last_commit(r.h);
       r.disarm();
       if (!last) r.unsound("null last commit");
       r.arm();
       const char *rev = wikidb_page_revision(r.h, "Alpha");
       r.disarm();
       r.judge_text(rev, r.wiki.c2);
     }},
    {"rename and batch",
     [](Round &r) {
       // Back and forth: each round moves the page from where it is.
       const auto where = [&] {
         return git(r.wiki.root, "ls-tree --name-only HEAD pages/Moved.wiki") != "";
       };
       const bool was_moved = where();
       r.arm();
       int rc = wikidb_rename_page(r.h, was_moved ? "Moved" : "sub/Beta",
                                   was_moved ? "sub/Beta" : "Moved", nullptr, nullptr);
       r.disarm();
       r.judge_change(rc);
       if (where() != (rc == 0 ? !was_moved : was_moved)) r.unsound("rename reported wrongly");
       const std::string text = "one " + std::to_string(r.n) + "\n";
       r.arm();
       rc = wikidb_begin(r.h);
       if (rc == 0) rc = wikidb_stage_save(r.h, "One", text.c_str(), nullptr);
       if (rc == 0) rc = wikidb_stage_delete(r.h, "Alpha", nullptr);
       if (rc == 0) rc = wikidb_commit(r.h, "Ed", "batch", 0);
       r.disarm();
       r.judge_change(rc);
       if (rc != 0) wikidb_abort(r.h);
     }},
    {"history page",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_history_page_json(r.h, "Alpha", nullptr, 1, nullptr, nullptr, nullptr, WIKIDB_FOLLOW);
       r.disarm();
       r.judge_text(j, r.wiki.page_history);
     }},
    {"wiki history page",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_history_page_json(r.h, nullptr, nullptr, 2, "ann", nullptr, nullptr, 0);
       r.disarm();
       r.judge_text(j, r.wiki.wiki_history);
     }},
    {"recent page",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_recent_page_json(r.h, nullptr, 10, nullptr, nullptr);
       r.disarm();
       r.judge_text(j, r.wiki.recent_page);
     }},
    {"search",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_search_json(r.h, "\xc3\x9c" "ber second", 10, WIKIDB_SEARCH_TITLES);
       r.disarm();
       r.judge_text(j, r.wiki.search);
     }},
    {"deleted pages",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_deleted_pages_json(r.h);
       r.disarm();
       r.judge_text(j, r.wiki.deleted);
     }},
    {"blame",
     [](Round &r) {
       r.arm();
       const char *j = wikidb_blame_json(r.h, "Alpha", nullptr);
       r.disarm();
       r.judge_text(j, r.wiki.blame);
     }},
    {"version, last_error, close",
     [](Round &r) {
       r.arm();
       const char *v = wikidb_version(), *e = wikidb_last_error();
       wikidb_close(nullptr);
       r.disarm();
       if (!v || !e) r.unsound("null static text");
     }},
};

TEST(OutOfMemory, EveryFunctionFailsCleanlyAtEveryAllocation) {
  for (const Case &c : kCases) {
    const long made = exhaust(c);
    EXPECT_GE(made, 0) << c.name;
    printf("%-28s %ld allocations, each failed in turn\n", c.name, made);
  }
}

}  // namespace
