// The scale rows: a first open of a 100,000-commit import, page histories as
// the changed-path filters are completed step by step, the two ways of
// finding history sizes, saves with and without git's automatic maintenance
// child, the repository a run of saves leaves, and the open with the writer
// lock. Each row sets the library against today's commands, run bare in the
// same run. The large wikis are built once into a cache directory.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bare_git.h"
#include "fixtures.h"
#include "measure.h"
#include "scale_fixtures.h"
#include "wikidb.h"

#include "frame/strbuf.h"
#include "git/commit_graph.h"
#include "reports/history.h"
#include "store/fs.h"

namespace {

const std::vector<std::string> kTodaysGraphWrite = {"commit-graph", "write", "--reachable",
                                                    "--changed-paths", "--split"};
const int kGraphEvery = 50;

void fail(const std::string &what) {
  fprintf(stderr, "wikidb_scale_bench: %s (%s)\n", what.c_str(), wikidb_last_error());
  exit(1);
}

wikidb_handle *open_or_die(const std::string &root) {
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) fail("open " + root);
  return h;
}

std::string fmt(const char *format, double a, double b = 0, double c = 0) {
  char buf[256];
  snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

// git's automatic maintenance for this process's git children, through the
// environment of one measurement only.
void set_maintenance(bool on) {
  setenv("GIT_CONFIG_COUNT", "1", 1);
  setenv("GIT_CONFIG_KEY_0", "maintenance.auto", 1);
  setenv("GIT_CONFIG_VALUE_0", on ? "true" : "false", 1);
}
void clear_maintenance() {
  unsetenv("GIT_CONFIG_COUNT");
  unsetenv("GIT_CONFIG_KEY_0");
  unsetenv("GIT_CONFIG_VALUE_0");
}

// A detached gc started by git's maintenance may still run: wait for it, so
// that sizes and timings after it are its finished work.
void wait_for_gc(const std::string &root) {
  for (int i = 0; i < 600 && std::filesystem::exists(root + "/.git/gc.pid"); i++) usleep(100000);
}

// Today's save: file, add, commit (git's maintenance child as configured),
// and the graph write after every 50 commits.
void todays_save(const std::string &root, const std::string &title, const std::string &text, int *commits) {
  const std::string path = "pages/" + title + ".wiki";
  write_file(root + "/" + path, text);
  bare_git(root, {"add", path});
  std::string out;
  bare_git(root, {"commit", "-m", "Update " + title, "--author", library_identity("bench")}, &out);
  if (++*commits % kGraphEvery == 0) bare_git(root, kTodaysGraphWrite);
}

std::string history_by(const std::string &root, const std::string &path, history_sizes_way way) {
  strbuf json = {};
  page_history_json(root.c_str(), path.c_str(), way, &json);
  std::string s(json.data ? json.data : "", json.len);
  strbuf_release(&json);
  return s;
}

// Commits still without a filter, by the library's own reading.
const char *filters_state(const std::string &root) {
  return commit_graph_filters_complete(root.c_str()) ? "complete" : "incomplete";
}

// ------------------------------------------------------------------ rows

// First open of the import and the history as filters fill in.
void bench_first_open(const std::string &big, int max_steps) {
  fprintf(stderr, "first open of the 100,000-commit import\n");
  const std::string page = "P7", path = "pages/P7.wiki";
  // Today: the whole graph with every filter, in the open.
  graph_remove(big);
  std::vector<double> today;
  today.push_back(time_ms([&] { must_git(big, kTodaysGraphWrite); }));
  const std::string todays_graph = big + "/../graph-today";
  graph_copy(big, todays_graph);
  wikidb_handle *h = open_or_die(big);
  std::string reference;
  std::vector<double> full_history;
  for (int i = 0; i < 3; i++)
    full_history.push_back(time_ms([&] { reference = wikidb_get_history_json(h, page.c_str()); }));
  wikidb_close(h);
  add_fact("today: graph write from scratch, 100,000 commits (inside the first open)", 1, today,
           "commit-graph write --reachable --changed-paths --split");
  add_fact("history of P7, every filter present", 3, full_history, "the state both ways reach");

  // The library: its first open writes the graph and a bounded share of the
  // filters; each later open adds another share. The history is read on
  // the handle of a sampled open, after that open's step.
  graph_remove(big);
  // Each history before the filters are nearly complete walks most of the
  // 100,000 commits without them (a minute or more): a few samples only.
  const int sample[] = {1, 2, 100};
  std::vector<double> later;
  int step = 1;
  bool complete = false;
  for (; !complete && step <= max_steps; step++) {
    wikidb_handle *hs = nullptr;
    const double open_ms = time_ms([&] { hs = open_or_die(big); });
    complete = commit_graph_filters_complete(big.c_str());
    if (step == 1) {
      pair_times first;
      first.floor = today;
      first.lib.push_back(open_ms);
      add_row("first open of the 100,000-commit wiki (vs today's single write)", 1, first,
              "library: graph + up to 500 filters; today: graph + all 100,000 filters");
    } else {
      later.push_back(open_ms);
    }
    if (std::find(std::begin(sample), std::end(sample), step) != std::end(sample) || complete) {
      std::string json;
      std::vector<double> ms = {time_ms([&] { json = wikidb_get_history_json(hs, page.c_str()); })};
      if (json != reference) fail("history differs from today's after step " + std::to_string(step));
      add_fact("history of P7 after " + std::to_string(step) + " bounded step(s)", 1, ms,
               fmt("%.1fx the full-filter history; this open took %.0f ms", ms[0] / median(full_history), open_ms) +
                   (complete ? "; filters complete" : ""));
    }
    wikidb_close(hs);
  }
  add_fact("each later open while filters are missing", (int)later.size(), later,
           fmt("max %.0f ms; %.0f opens in all", later.empty() ? 0 : *std::max_element(later.begin(), later.end()),
               (double)(step - 1)) + (complete ? ", filters complete" : ", stopped by --max-steps"));
  std::vector<double> done;
  for (int i = 0; i < 5; i++) done.push_back(time_ms([&] { wikidb_close(open_or_die(big)); }));
  add_fact("open after that", 5, done, std::string("graph ") + filters_state(big));
  graph_restore(todays_graph, big);
}

// The two ways of finding sizes, each against the other, in a packed and in
// a loose wiki.
void bench_history_sizes(const std::string &big, const std::string &loose, const std::string &packed) {
  fprintf(stderr, "history sizes both ways\n");
  struct c {
    std::string root, path, what;
    int reps;
  } cases[] = {
      {big, "pages/P7.wiki", "10 revisions, 100,000-commit packed wiki of 10,000 pages", 3},
      {loose, "pages/Beta.wiki", "1000 revisions, loose objects, 3 pages", 10},
      {loose, "pages/Alpha.wiki", "50 revisions, loose objects, 3 pages", 10},
      {packed, "pages/Beta.wiki", "1000 revisions, same wiki packed", 10},
      {packed, "pages/Alpha.wiki", "50 revisions, same wiki packed", 10},
  };
  for (const c &k : cases) {
    if (history_by(k.root, k.path, SIZES_BY_ID) != history_by(k.root, k.path, SIZES_BY_PATH))
      fail("the two ways differ in " + k.root);
    pair_times t = time_pair(
        k.reps, [&](int) { history_by(k.root, k.path, SIZES_BY_ID); },
        [&](int) { history_by(k.root, k.path, SIZES_BY_PATH); });
    const bool chosen_id = history_sizes_way_for(k.root.c_str()) == SIZES_BY_ID;
    add_row("history sizes by object id (vs by HASH:PATH): " + k.what, k.reps, t,
            std::string("library chooses ") + (chosen_id ? "by id" : "by path") + "; JSON identical");
    // The two steps apart, run bare: the log with and without its diff,
    // and the size query by id and by path.
    const std::string fields = "--format=format:%H%x1f%an%x1f%ad%x1f%s";
    std::string raw;
    pair_times logs = time_pair(
        k.reps,
        [&](int) {
          raw.clear();
          bare_git(k.root, {"log", "-z", "--raw", "--no-abbrev", "--no-renames", fields, "--date=iso", "--", k.path}, &raw);
        },
        [&](int) {
          std::string out;
          bare_git(k.root, {"log", fields, "--date=iso", "--", k.path}, &out);
        });
    add_row("  log step: log -z --raw (vs plain log)", k.reps, logs, k.what);
    std::string by_id, by_path;
    for (size_t at = 0; at < raw.size();) {
      size_t end = raw.find('\0', at);
      if (end == std::string::npos) end = raw.size();
      const std::string field = raw.substr(at, end - at);
      const size_t colon = field.rfind('\n');
      const std::string head = colon == std::string::npos ? field : field.substr(colon + 1);
      if (field.find('\x1f') != std::string::npos) {  // a commit's fields
        by_path += field.substr(0, field.find('\x1f')) + ":" + k.path;
        by_path.push_back('\0');
      }
      if (!head.empty() && head[0] == ':') {  // its diff entry
        const size_t last = head.rfind(' '), before = head.rfind(' ', last - 1);
        by_id += head.substr(before + 1, last - before - 1);
        by_id.push_back('\0');
      }
      at = end + 1;
    }
    pair_times sizes = time_pair(
        k.reps,
        [&](int) {
          std::string out;
          bare_git(k.root, {"cat-file", "--batch-check=%(objectsize)", "--buffer", "-z"}, &out, &by_id);
        },
        [&](int) {
          std::string out;
          bare_git(k.root, {"cat-file", "--batch-check=%(objectsize)", "--buffer", "-z"}, &out, &by_path);
        });
    add_row("  size step: cat-file by id (vs by HASH:PATH)", k.reps, sizes, k.what);
  }
}

// Saves with the library (maintenance pinned off, its own gc --auto on the
// refresh cadence) against today's commands with git's maintenance child.
void bench_saves(const std::string &work, const std::string &flat100, const std::string &flat1k) {
  fprintf(stderr, "saves with and without maintenance.auto\n");
  const struct {
    const std::string *fixture;
    int pages, reps;
  } cases[] = {{&flat100, 100, 200}, {&flat1k, 1000, 200}};
  for (const auto &k : cases) {
    const std::string lib = work + "/save-lib", floor = work + "/save-floor";
    copy_wiki(*k.fixture, lib);
    copy_wiki(*k.fixture, floor);
    wikidb_handle *h = open_or_die(lib);
    int commits = 0;
    char title[32];
    pair_times t = time_pair(
        k.reps,
        [&](int i) {
          snprintf(title, sizeof title, "Topic-%05d", i * 37 % k.pages);
          set_maintenance(false);
          if (wikidb_save_page(h, title, page_text(title, 1000 + i).c_str(), "bench", nullptr) != 0)
            fail("save");
          clear_maintenance();
        },
        [&](int i) {
          snprintf(title, sizeof title, "Topic-%05d", i * 37 % k.pages);
          set_maintenance(true);
          todays_save(floor, title, page_text(title, 1000 + i), &commits);
          clear_maintenance();
        });
    wikidb_close(h);
    wait_for_gc(floor);
    add_row("save at " + std::to_string(k.pages) + " pages (maintenance.auto=false + gc --auto every 50, vs today)",
            k.reps, t,
            fmt("totals: library %.0f ms, today %.0f ms", sum(t.lib), sum(t.floor)));
    // The same library save with git's maintenance child left on.
    copy_wiki(*k.fixture, lib);
    copy_wiki(*k.fixture, floor);
    h = open_or_die(lib);
    wikidb_handle *h2 = open_or_die(floor);
    t = time_pair(
        k.reps,
        [&](int i) {
          snprintf(title, sizeof title, "Topic-%05d", i * 37 % k.pages);
          set_maintenance(false);
          if (wikidb_save_page(h, title, page_text(title, 1000 + i).c_str(), "bench", nullptr) != 0) fail("save");
          clear_maintenance();
        },
        [&](int i) {
          snprintf(title, sizeof title, "Topic-%05d", i * 37 % k.pages);
          set_maintenance(true);
          if (wikidb_save_page(h2, title, page_text(title, 1000 + i).c_str(), "bench", nullptr) != 0) fail("save");
          clear_maintenance();
        });
    wikidb_close(h);
    wikidb_close(h2);
    wait_for_gc(floor);
    add_row("library save at " + std::to_string(k.pages) + " pages, maintenance.auto false vs true", k.reps, t,
            "the same library; only the setting differs");
  }
}

// The repository left by 1,000 saves, with and without the change.
void bench_repository_size(const std::string &work, const std::string &flat1k) {
  fprintf(stderr, "1,000 saves: repository size\n");
  for (const char *gc_auto : {"", "1000"}) {
    const std::string lib = work + "/size-lib", floor = work + "/size-floor";
    copy_wiki(flat1k, lib);
    copy_wiki(flat1k, floor);
    if (*gc_auto) {
      must_git(lib, {"config", "gc.auto", gc_auto});
      must_git(floor, {"config", "gc.auto", gc_auto});
    }
    const store_size lib0 = object_store_size(lib);
    wikidb_handle *h = open_or_die(lib);
    int commits = 0;
    char title[32];
    std::vector<double> lib_ms, floor_ms;
    for (int i = 0; i < 1000; i++) {
      snprintf(title, sizeof title, "Topic-%05d", i * 37 % 1000);
      const std::string text = page_text(title, 5000 + i);
      set_maintenance(false);
      lib_ms.push_back(time_ms([&] {
        if (wikidb_save_page(h, title, text.c_str(), "bench", nullptr) != 0) fail("save");
      }));
      set_maintenance(true);
      floor_ms.push_back(time_ms([&] { todays_save(floor, title, text, &commits); }));
      clear_maintenance();
    }
    wikidb_close(h);
    wait_for_gc(floor);
    const store_size a = object_store_size(lib), b = object_store_size(floor);
    const std::string setting = *gc_auto ? std::string("gc.auto=") + gc_auto : "gc.auto default (6700)";
    pair_times t{lib_ms, floor_ms};
    add_row("1,000 saves at 1,000 pages, " + setting + ": time per save", 1000, t,
            fmt("objects: library %.1f MiB, today %.1f MiB (start %.1f MiB)", a.bytes / 1048576.0,
                b.bytes / 1048576.0, lib0.bytes / 1048576.0) +
                fmt("; loose objects %.0f vs %.0f", (double)a.loose, (double)b.loose) +
                fmt("; packs %.0f vs %.0f", (double)a.packs, (double)b.packs));
  }
}

// The open: its five settings, and the writer lock around them.
void bench_open_lock(const std::string &flat1k, const std::string &big) {
  fprintf(stderr, "open with the writer lock\n");
  const int reps = 40;
  auto settings = [](const std::string &root) {
    static const char *const settings[][2] = {
        {"user.name", "Wiki User"},   {"user.email", "wiki@quenlow-wikidb.invalid"},
        {"commit.gpgsign", "false"},  {"core.autocrlf", "false"},
        {"core.quotepath", "false"},
    };
    for (const auto &s : settings) bare_git(root, {"config", s[0], s[1]});
  };
  pair_times t = time_pair(
      reps, [&](int) { wikidb_close(open_or_die(flat1k)); }, [&](int) { settings(flat1k); });
  add_row("open, existing 1,000-page wiki (vs its 5 bare git config)", reps, t, "");
  if (commit_graph_filters_complete(big.c_str())) {
    pair_times tb = time_pair(
        reps, [&](int) { wikidb_close(open_or_die(big)); }, [&](int) { settings(big); });
    add_row("open, 100,000-commit wiki, graph complete (vs its 5 bare git config)", reps, tb,
            "includes reading the graph's filter index (400 KB)");
  }
  std::vector<double> lock;
  for (int i = 0; i < 200; i++)
    lock.push_back(time_ms([&] {
      wiki_lock l;
      if (wiki_lock_acquire(flat1k.c_str(), 0, &l) == 0) wiki_unlock(&l);
    }));
  add_fact("writer lock taken and released (uncontended)", 200, lock,
           fmt("%.1f us, %.2f%% of the open's median", 1000 * median(lock), 100 * median(lock) / median(t.lib)));
}

}  // namespace

int main(int argc, char **argv) {
  std::string cache, only;
  int max_steps = 400;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--cache") && i + 1 < argc) {
      cache = argv[++i];
    } else if (!strcmp(argv[i], "--only") && i + 1 < argc) {
      only = argv[++i];
    } else if (!strcmp(argv[i], "--max-steps") && i + 1 < argc) {
      max_steps = atoi(argv[++i]);
    } else {
      fprintf(stderr,
              "usage: %s --cache DIR [--only open|sizes|saves|size|lock] [--max-steps N]\n",
              argv[0]);
      return 2;
    }
  }
  if (cache.empty()) {
    fprintf(stderr, "wikidb_scale_bench: --cache DIR is required (the fixtures take minutes to build)\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  cache = std::filesystem::absolute(cache).string();
  const std::string work = make_work_dir();
  time_t now = time(nullptr);
  char date[64];
  strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", gmtime(&now));
  auto want = [&](const char *part) { return only.empty() || only == part; };

  double total = time_ms([&] {
    const std::string big = cached_history_wiki(cache, "history-100k", 10000, 100000);
    const std::string flat100 = cached_flat_wiki(cache, "flat-100", 100);
    const std::string flat1k = cached_flat_wiki(cache, "flat-1k", 1000);
    sync();
    if (want("open")) bench_first_open(big, max_steps);
    sync();
    if (want("sizes")) {
      const std::string loose = work + "/loose", packed = work + "/packed";
      build_small_wiki(loose);
      must_git(work, {"clone", "-q", "--no-local", loose, packed});
      must_git(packed, {"commit-graph", "write", "--reachable", "--changed-paths"});
      sync();
      bench_history_sizes(big, loose, packed);
    }
    sync();
    if (want("saves")) bench_saves(work, flat100, flat1k);
    sync();
    if (want("size")) bench_repository_size(work, flat1k);
    sync();
    if (want("lock")) bench_open_lock(flat1k, big);
  });
  printf("Run of %s, load average at the end: ", date);
  fflush(stdout);
  system("cut -d' ' -f1-3 /proc/loadavg");
  printf("\n");
  print_tables(stdout);
  printf("\nWhole run: %.0f s.\n", total / 1000);
  remove_tree(work);
  return 0;
}
