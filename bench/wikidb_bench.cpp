// Measures each operation of the library against the bare git commands it
// runs (the floor), on wikis the benchmark makes itself, and the choices
// behind the page history: batched sizes and git's commit-graph.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bare_git.h"
#include "fixtures.h"
#include "heap_peak.h"
#include "measure.h"
#include "wikidb.h"

#ifdef WIKIDB_BENCH_INTERNAL
#include "git/invocations.h"
#include "git/runner.h"
#include "reports/history.h"
#include "reports/parse.h"
#endif

namespace {

// Repetitions; --quick divides the larger ones by four.
struct reps_t {
  int open = 40, open_new = 10, history = 20, per_commit = 3, history_nograph = 3, stale = 5,
      list1k = 40, list10k = 20, recent = 30, revision = 40, save_big = 16, graph_noop = 10, durable = 100,
      graph_incremental = 5, graph_scratch_small = 3, graph_scratch_big = 2, runner = 300;
} R;

const char *const kLogFormat = "--format=format:%H%x1f%an%x1f%ad%x1f%s";
const char *const kRecentFormat = "--format=commit:%H%x1f%an%x1f%ad%x1f%s";
// A whole graph with every filter, for the history rows' fixtures.
const std::vector<std::string> kGraphWrite = {"commit-graph", "write", "--reachable",
                                              "--changed-paths", "--split"};
// What the library runs: at most 500 new filters a write (GRAPH_NEW_FILTERS),
// and after every 50 commits (GRAPH_REFRESH_COMMITS) also gc --auto.
const std::vector<std::string> kLibraryGraphWrite = {"commit-graph", "write", "--reachable",
                                                     "--changed-paths", "--split",
                                                     "--max-new-filters=500"};
const std::vector<std::string> kGcAuto = {"-c", "gc.autoDetach=false", "-c", "gc.writeCommitGraph=false",
                                          "gc", "--auto", "--quiet"};
const int kGraphEvery = 50;

void fail(const std::string &what) {
  fprintf(stderr, "wikidb_bench: %s (%s)\n", what.c_str(), wikidb_last_error());
  exit(1);
}

wikidb_handle *open_or_die(const std::string &root) {
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) fail("open " + root);
  return h;
}

size_t count_of(const char *text, const char *needle) {
  size_t n = 0;
  for (const char *p = text; (p = strstr(p, needle)); p += strlen(needle)) n++;
  return n;
}

void expect_entries(const char *json, size_t want, const std::string &what) {
  size_t got = count_of(json, "{\"hash\":");
  if (got != want) fail(what + ": " + std::to_string(got) + " entries, expected " + std::to_string(want));
}

// ---------------------------------------------------------------- the floor

void floor_open(const std::string &root) {
  static const char *const settings[][2] = {
      {"user.name", "Wiki User"},   {"user.email", "wiki@quenlow-wikidb.invalid"},
      {"commit.gpgsign", "false"},  {"core.autocrlf", "false"},
      {"core.quotepath", "false"},
  };
  for (const auto &s : settings) bare_git(root, {"config", s[0], s[1]});
}

// Writes a page as the library does when durable: the text synced in a
// temporary file, renamed over the page, the directory synced.
void write_file_synced(const std::string &dir, const std::string &name, const std::string &text) {
  const std::string tmp = dir + "/.floor.tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size() || fsync(fd) != 0)
    fail("durable floor write " + tmp);
  close(fd);
  if (rename(tmp.c_str(), (dir + "/" + name).c_str()) != 0) fail("durable floor rename");
  int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0 || fsync(d) != 0) fail("durable floor directory sync");
  close(d);
}

// The settings the library pins that change a save's work: git starts no
// maintenance behind a commit, and with durable syncs its objects, index
// and references.
struct floor_settings {
  explicit floor_settings(bool durable) {
    setenv("GIT_CONFIG_COUNT", durable ? "3" : "1", 1);
    setenv("GIT_CONFIG_KEY_0", "maintenance.auto", 1);
    setenv("GIT_CONFIG_VALUE_0", "false", 1);
    setenv("GIT_CONFIG_KEY_1", "core.fsync", 1);
    setenv("GIT_CONFIG_VALUE_1", "committed,index", 1);
    setenv("GIT_CONFIG_KEY_2", "core.fsyncMethod", 1);
    setenv("GIT_CONFIG_VALUE_2", "fsync", 1);
  }
  ~floor_settings() {
    for (const char *v : {"GIT_CONFIG_COUNT", "GIT_CONFIG_KEY_0", "GIT_CONFIG_VALUE_0", "GIT_CONFIG_KEY_1",
                          "GIT_CONFIG_VALUE_1", "GIT_CONFIG_KEY_2", "GIT_CONFIG_VALUE_2"})
      unsetenv(v);
  }
};

// What one save runs: the file, add, commit, and the graph refresh after
// every kGraphEvery commits, as the library does; with durable, the file
// and git's work synced as the library does it. Without, the save as it
// was before the library synced anything.
void floor_save(const std::string &root, const std::string &title, const std::string &text,
                const std::string &author, int *commits, bool durable = true) {
  const std::string path = "pages/" + title + ".wiki";
  floor_settings settings(durable);
  if (durable)
    write_file_synced(root + "/pages", title + ".wiki", text);
  else
    write_file(root + "/" + path, text);
  bare_git(root, {"add", path});
  std::string out;
  bare_git(root, {"commit", "-m", "Update " + title, "--author", library_identity(author)}, &out);
  if (++*commits % kGraphEvery == 0) {
    bare_git(root, kGcAuto);
    bare_git(root, kLibraryGraphWrite);
  }
}

std::vector<std::string> log_hashes(const std::string &log) {
  std::vector<std::string> hashes;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    size_t sep = log.find('\x1f', at);
    if (sep != std::string::npos && sep < end) hashes.push_back(log.substr(at, sep - at));
    at = end + 1;
  }
  return hashes;
}

std::string floor_log(const std::string &root, const std::string &path) {
  std::string log;
  bare_git(root, {"log", kLogFormat, "--date=iso", "--", path}, &log);
  return log;
}

// log, then every size from one cat-file --batch-check.
void floor_history(const std::string &root, const std::string &path) {
  std::string input;
  for (const std::string &h : log_hashes(floor_log(root, path))) {
    input += h + ":" + path;
    input.push_back('\0');
  }
  std::string sizes;
  if (!input.empty())
    bare_git(root, {"cat-file", "--batch-check=%(objectsize)", "--buffer", "-z"}, &sizes, &input);
}

// log, then one cat-file -s per commit: the per-commit method.
void floor_history_per_commit(const std::string &root, const std::string &path) {
  for (const std::string &h : log_hashes(floor_log(root, path))) {
    std::string size;
    bare_git(root, {"cat-file", "-s", h + ":" + path}, &size);
  }
}

void floor_recent(const std::string &root) {
  std::string out;
  bare_git(root, {"log", "-n50", "--name-status", "--no-renames", kRecentFormat, "--date=iso"}, &out);
}

void floor_list(const std::string &root) {
  std::string out;
  bare_git(root, {"ls-files", "--cached", "--others", "--exclude-standard", "pages/"}, &out);
}

#ifdef WIKIDB_BENCH_INTERNAL
// The page history as it was built before sizes were batched: the library's
// own log, parser, per-commit size query and JSON writer.
std::string library_history_per_commit(const std::string &root, const std::string &path) {
  char *out = nullptr;
  int rc = git_log_history(root.c_str(), path.c_str(), &out);
  log_entry *entries = nullptr;
  size_t n = rc == 0 ? parse_history_log(out, &entries) : 0;
  std::vector<int64_t> sizes(n + 1, 0);
  if (n) history_sizes_one_by_one(root.c_str(), entries, n, path.c_str(), sizes.data());
  strbuf json = {};
  history_json(entries, n, sizes.data(), &json);
  std::string result = json.data ? json.data : "[]";
  strbuf_release(&json);
  free(entries);
  free(out);
  return result;
}
#endif

std::string fmt(const char *format, double a, double b = 0, double c = 0) {
  char buf[256];
  snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

std::string shell_line(const char *cmd) {
  FILE *p = popen(cmd, "r");
  if (!p) return "?";
  char buf[512];
  std::string s;
  while (fgets(buf, sizeof buf, p)) s += buf;
  pclose(p);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// ------------------------------------------------------------ the benchmark

struct wikis {
  std::string small, big, list1k, list10k, pages20k_lib, pages20k_floor;
};

void build_fixtures(const std::string &work, wikis *w) {
  w->small = work + "/small";
  w->big = work + "/big";
  w->list1k = work + "/list1k";
  w->list10k = work + "/list10k";
  w->pages20k_lib = work + "/pages20k-lib";
  w->pages20k_floor = work + "/pages20k-floor";
  double t = time_ms([&] { build_small_wiki(w->small); });
  fprintf(stderr, "fixture small (1350 library saves): %.1f s\n", t / 1000);
  t = time_ms([&] { import_wiki(w->big, big_history(2000, 20000)); });
  fprintf(stderr, "fixture big (2,000 pages, 20,000 commits, fast-import): %.1f s\n", t / 1000);
  t = time_ms([&] {
    import_wiki(w->list1k, flat_pages(1000));
    import_wiki(w->list10k, flat_pages(10000));
    std::vector<import_commit> many = flat_pages(20000);
    import_wiki(w->pages20k_lib, many);
    import_wiki(w->pages20k_floor, many);
  });
  fprintf(stderr, "fixtures of 1,000, 10,000 and twice 20,000 pages: %.1f s\n", t / 1000);
  // Files written in the same second as the index are racily clean: wait a
  // second and refresh, so no command afterwards rehashes them.
  sleep(1);
  for (const std::string *root : {&w->big, &w->list1k, &w->list10k, &w->pages20k_lib, &w->pages20k_floor})
    refresh_index(*root);
  // The big wiki starts without any commit-graph, as an imported wiki would.
  graph_remove(w->big);
}

void bench_open(const std::string &work, const wikis &w) {
  fprintf(stderr, "open\n");
  // A wiki without a graph (an import): the library's open writes it, so the
  // floor does too. Each repetition starts again without one.
  for (const std::string *root : {&w.small, &w.big}) {
    const bool big = root == &w.big;
    const int reps = big ? R.graph_scratch_big : R.graph_scratch_small;
    pair_times t = time_pair(
        reps,
        [&](int) {
          graph_remove(*root);
          wikidb_close(open_or_die(*root));
          if (!graph_layers(*root)) fail("open wrote no commit-graph");
        },
        [&](int) {
          graph_remove(*root);
          floor_open(*root);
          bare_git(*root, kLibraryGraphWrite);
        });
    add_row(big ? "open, 20,000-commit wiki without commit-graph" : "open, 1,350-commit wiki without commit-graph",
            reps, t, "5 x git config + commit-graph write (from scratch, at most 500 filters)");
    // Every filter, so that the next opens find the graph complete.
    graph_remove(*root);
    bare_git(*root, kGraphWrite);
  }
  // With the graph current, the open runs the settings only.
  for (const std::string *root : {&w.small, &w.big}) {
    const std::string chain = *root + "/.git/objects/info/commit-graphs/commit-graph-chain";
    struct stat before {};
    stat(chain.c_str(), &before);
    pair_times t = time_pair(
        R.open, [&](int) { wikidb_close(open_or_die(*root)); }, [&](int) { floor_open(*root); });
    struct stat after {};
    stat(chain.c_str(), &after);
    if (after.st_mtime != before.st_mtime || after.st_size != before.st_size)
      fail("open rewrote a current commit-graph");
    add_row(root == &w.small ? "open, existing wiki (1,350 commits)" : "open, existing wiki (20,000 commits)",
            R.open, t, "5 x git config; graph current, not rewritten");
  }
  // The big wiki goes on without a graph, as bench_big_history expects.
  graph_remove(w.big);
  pair_times t = time_pair(
      R.open_new,
      [&](int i) { wikidb_close(open_or_die(work + "/new-lib-" + std::to_string(i))); },
      [&](int i) {
        std::string root = work + "/new-floor-" + std::to_string(i);
        mkdir(root.c_str(), 0777);
        mkdir((root + "/pages").c_str(), 0777);
        mkdir((root + "/meta").c_str(), 0777);
        bare_git(root, {"init"});
        floor_open(root);
      });
  add_row("open, new wiki", R.open_new, t, "git init + 5 x git config");
}

#ifdef WIKIDB_BENCH_INTERNAL
// The cost of the library's runner itself: one short git command.
void bench_runner(const wikis &w) {
  const char *args[] = {"rev-parse", "HEAD", nullptr};
  pair_times t = time_pair(
      R.runner,
      [&](int) {
        char *out = nullptr;
        run_git(w.small.c_str(), args, &out);
        free(out);
      },
      [&](int) {
        std::string out;
        bare_git(w.small, {"rev-parse", "HEAD"}, &out);
      });
  add_row("one git process through the runner (rev-parse HEAD)", R.runner, t,
          fmt("library %.3f ms more per git process", median(t.lib) - median(t.floor)));
}
#endif

void bench_saves(const std::string &work) {
  fprintf(stderr, "saves\n");
  const std::string lib_root = work + "/saves-lib", floor_root = work + "/saves-floor";
  wikidb_handle *h = open_or_die(lib_root);
  wikidb_close(open_or_die(floor_root));
  int floor_commits = 0;
  auto lib_save = [&](const std::string &title, int rev) {
    if (wikidb_save_page(h, title.c_str(), page_text(title, rev).c_str(), "bench", nullptr) != 0)
      fail("save " + title);
  };
  pair_times t = time_pair(
      200, [&](int i) { lib_save("New-" + std::to_string(i), i); },
      [&](int i) {
        std::string title = "New-" + std::to_string(i);
        floor_save(floor_root, title, page_text(title, i), "bench", &floor_commits);
      });
  add_row("200 saves of new pages (per save)", 200, t,
          fmt("total: library %.0f ms, floor %.0f ms; both run 4 gc --auto and graph writes", sum(t.lib), sum(t.floor)));
  t = time_pair(
      300, [&](int i) { lib_save("Busy", i); },
      [&](int i) { floor_save(floor_root, "Busy", page_text("Busy", i), "bench", &floor_commits); });
  add_row("300 saves of one page (per save)", 300, t,
          fmt("total: library %.0f ms, floor %.0f ms; both run 6 gc --auto and graph writes", sum(t.lib), sum(t.floor)));
  // What durability costs: the library's save against the same save with
  // nothing synced, as the library saved before (file, add, commit).
  int plain_commits = 0;
  t = time_pair(
      R.durable, [&](int i) { lib_save("Durable", i); },
      [&](int i) {
        floor_save(floor_root, "Durable", page_text("Durable", i), "bench", &plain_commits, false);
      });
  add_row("durable save against a save that syncs nothing (per save)", R.durable, t,
          fmt("library syncs page, directory, objects, index, ref: %+.2f ms per save",
              median(t.lib) - median(t.floor)));
  wikidb_close(h);
}

void bench_small_reads(const std::string &work, const wikis &w) {
  fprintf(stderr, "history, recent changes, revision and diff in the small wiki\n");
  wikidb_handle *h = open_or_die(w.small);
  const struct {
    const char *title;
    size_t revisions;
  } pages[] = {{"Alpha", 50}, {"Gamma", 300}, {"Beta", 1000}};
  for (const auto &p : pages) {
    expect_entries(wikidb_get_history_json(h, p.title), p.revisions, p.title);
    const std::string path = std::string("pages/") + p.title + ".wiki";
    pair_times t = time_pair(
        R.history, [&](int) { wikidb_get_history_json(h, p.title); },
        [&](int) { floor_history(w.small, path); });
    add_row("history of a page with " + std::to_string(p.revisions) + " revisions", R.history, t,
            "log + cat-file --batch-check; loose objects");
  }

  // The two ways to learn the sizes, at 1000 revisions.
  const std::string beta = "pages/Beta.wiki";
  std::string batched = wikidb_get_history_json(h, "Beta");
  std::vector<double> batch_ms, per_commit_ms, floor_per_commit_ms;
  for (int i = 0; i < R.per_commit; i++) {
    batch_ms.push_back(time_ms([&] { wikidb_get_history_json(h, "Beta"); }));
    floor_per_commit_ms.push_back(time_ms([&] { floor_history_per_commit(w.small, beta); }));
  }
  std::string note = "bare log + 1000 x cat-file -s";
#ifdef WIKIDB_BENCH_INTERNAL
  std::string one_by_one;
  for (int i = 0; i < R.per_commit; i++)
    per_commit_ms.push_back(time_ms([&] { one_by_one = library_history_per_commit(w.small, beta); }));
  if (one_by_one != batched) fail("per-commit and batched histories differ");
  add_fact("history, 1000 revisions, per-commit method (library internals)", R.per_commit,
           per_commit_ms,
           fmt("batched library history %.1f ms: %.1fx faster; JSON identical byte for byte",
               median(batch_ms), median(per_commit_ms) / median(batch_ms)));
#endif
  add_fact("history, 1000 revisions, per-commit method (bare floor)", R.per_commit,
           floor_per_commit_ms,
           fmt("batched library history %.1f ms: %.1fx faster; ", median(batch_ms),
               median(floor_per_commit_ms) / median(batch_ms)) + note);

  // The same wiki once git has packed it (as "gc --auto" does after about
  // 6,700 loose objects): the loose objects are most of the history's cost.
  const std::string packed = work + "/small-packed";
  must_git(work, {"clone", "-q", "--no-local", w.small, packed});
  must_git(packed, {"commit-graph", "write", "--reachable", "--changed-paths"});
  {
    wikidb_handle *hp = open_or_die(packed);
    for (const char *title : {"Alpha", "Gamma", "Beta"}) {
      const std::string path = std::string("pages/") + title + ".wiki";
      pair_times tp = time_pair(
          R.history, [&](int) { wikidb_get_history_json(hp, title); },
          [&](int) { floor_history(packed, path); });
      add_row(std::string("history of ") + title + ", same wiki packed", R.history, tp,
              "a clone: one pack, commit-graph");
    }
    wikidb_close(hp);
  }

  pair_times t = time_pair(
      R.recent, [&](int) { wikidb_get_recent_changes_json(h, 50); },
      [&](int) { floor_recent(w.small); });
  add_row("recent changes (50), 1,350-commit wiki", R.recent, t, "log -n50 --name-status");

  // Two neighbouring revisions in the middle of Beta's history.
  std::vector<std::string> hashes = log_hashes(floor_log(w.small, beta));
  const std::string a = hashes[500], b = hashes[501];
  t = time_pair(
      R.revision,
      [&](int) {
        if (!wikidb_get_revision(h, "Beta", a.c_str())) fail("revision");
        wikidb_get_diff(h, "Beta", b.c_str(), a.c_str());
      },
      [&](int) {
        std::string out;
        bare_git(w.small, {"show", a + ":" + beta}, &out);
        out.clear();
        bare_git(w.small, {"diff", b, a, "--", beta}, &out);
      });
  add_row("revision + diff", R.revision, t, "show + diff");
  wikidb_close(h);
}

void bench_lists(const wikis &w) {
  fprintf(stderr, "lists\n");
  const struct {
    const std::string *root;
    int pages, reps;
  } lists[] = {{&w.list1k, 1000, R.list1k}, {&w.list10k, 10000, R.list10k}};
  for (const auto &l : lists) {
    wikidb_handle *h = open_or_die(*l.root);
    size_t names = count_of(wikidb_list_pages_json(h, nullptr), "\"Topic-");
    if (names != (size_t)l.pages) fail("list of " + std::to_string(l.pages) + " pages");
    pair_times t = time_pair(
        l.reps, [&](int) { wikidb_list_pages_json(h, nullptr); }, [&](int) { floor_list(*l.root); });
    add_row("list of " + std::to_string(l.pages) + " pages", l.reps, t, "ls-files --cached --others");
    wikidb_close(h);
  }
}

// The two identical wikis swap roles at every repetition, so that a
// difference between their files on disk cannot pass for the library's.
void bench_big_save(const wikis &w) {
  fprintf(stderr, "one save in a 20,000-page wiki\n");
  const std::string roots[2] = {w.pages20k_lib, w.pages20k_floor};
  wikidb_handle *h[2] = {open_or_die(roots[0]), open_or_die(roots[1])};
  int floor_commits = 0;
  char title[32];
  pair_times t = time_pair(
      R.save_big,
      [&](int i) {
        snprintf(title, sizeof title, "Topic-%05d", i * 997 % 20000);
        if (wikidb_save_page(h[i % 2], title, page_text(title, 100000 + i).c_str(), "bench",
                             nullptr) != 0)
          fail("save in the 20,000-page wiki");
      },
      [&](int i) {
        snprintf(title, sizeof title, "Topic-%05d", i * 997 % 20000);
        floor_save(roots[(i + 1) % 2], title, page_text(title, 100000 + i), "bench", &floor_commits);
      });
  add_row("one save in a 20,000-page wiki", R.save_big, t,
          "write + add + commit; the two wikis swap roles each rep");
  wikidb_close(h[0]);
  wikidb_close(h[1]);
}

// History in the 20,000-commit wiki, with and without the commit-graph, and
// what keeping the graph costs.
void bench_big_history(const std::string &work, const wikis &w) {
  fprintf(stderr, "the 20,000-commit wiki and its commit-graph\n");
  const std::string &big = w.big;
  const std::string path = "pages/P7.wiki";
  wikidb_handle *h = open_or_die(big);
  graph_remove(big);
  const size_t revisions = log_hashes(floor_log(big, path)).size();
  expect_entries(wikidb_get_history_json(h, "P7"), revisions, "P7");
  const std::string rev_note = std::to_string(revisions) + " revisions of P7";

  pair_times nograph = time_pair(
      R.history_nograph, [&](int) { wikidb_get_history_json(h, "P7"); },
      [&](int) { floor_history(big, path); });
  add_row("history of one page, 20,000-commit wiki, no commit-graph", R.history_nograph, nograph,
          rev_note);

  std::vector<double> scratch;
  for (int i = 0; i < R.graph_scratch_big; i++) {
    graph_remove(big);
    scratch.push_back(time_ms([&] { bare_git(big, kGraphWrite); }));
  }
  add_fact("graph write from scratch, 20,000 commits", R.graph_scratch_big, scratch,
           "commit-graph write --reachable --changed-paths --split");

  pair_times fresh = time_pair(
      R.history, [&](int) { wikidb_get_history_json(h, "P7"); }, [&](int) { floor_history(big, path); });
  add_row("history of one page, 20,000-commit wiki, fresh commit-graph", R.history, fresh,
          rev_note + fmt("; %.0fx faster than without the graph", median(nograph.lib) / median(fresh.lib)));

  std::vector<double> noop;
  for (int i = 0; i < R.graph_noop; i++) noop.push_back(time_ms([&] { bare_git(big, kGraphWrite); }));
  add_fact("graph write, up to date, 20,000 commits", R.graph_noop, noop,
           "layers after: " + std::to_string(graph_layers(big)));

  pair_times recent = time_pair(
      R.recent, [&](int) { wikidb_get_recent_changes_json(h, 50); }, [&](int) { floor_recent(big); });
  add_row("recent changes (50), 20,000-commit wiki", R.recent, recent, "log -n50 --name-status");

  // A graph that stops `stale` commits before the tip: the history walks
  // those commits without filters. States are kept to time the refresh.
  const int stale_steps[] = {5000, 1000, 200, 50, 1};
  graph_remove(big);
  for (int k : stale_steps) {
    double w_ms = time_ms([&] { graph_write_upto(big, "HEAD~" + std::to_string(k), true); });
    graph_copy(big, work + "/graph-stale-" + std::to_string(k));
    std::vector<double> ms;
    for (int i = 0; i < R.stale; i++) ms.push_back(time_ms([&] { wikidb_get_history_json(h, "P7"); }));
    add_fact("history of P7, graph " + std::to_string(k) + " commits behind", R.stale, ms,
             fmt("layers %.0f; adding this layer took %.0f ms", graph_layers(big), w_ms));
  }
  for (int k : {1, 50, 200, 1000}) {
    std::vector<double> ms;
    for (int i = 0; i < R.graph_incremental; i++) {
      graph_restore(work + "/graph-stale-" + std::to_string(k), big);
      ms.push_back(time_ms([&] { bare_git(big, kLibraryGraphWrite); }));
    }
    add_fact("graph write, " + std::to_string(k) + " new commits, 20,000-commit wiki",
             R.graph_incremental, ms, "the library's command");
  }
  wikidb_close(h);
}

void bench_small_graph(const std::string &work, const wikis &w) {
  fprintf(stderr, "the small wiki's commit-graph\n");
  const std::string &small = w.small;
  std::vector<double> noop;
  bare_git(small, kGraphWrite);
  for (int i = 0; i < R.graph_noop; i++) noop.push_back(time_ms([&] { bare_git(small, kGraphWrite); }));
  add_fact("graph write, up to date, 1,350 commits", R.graph_noop, noop,
           "layers: " + std::to_string(graph_layers(small)));
  std::vector<double> scratch;
  for (int i = 0; i < R.graph_scratch_small; i++) {
    graph_remove(small);
    scratch.push_back(time_ms([&] { bare_git(small, kGraphWrite); }));
  }
  add_fact("graph write from scratch, 1,350 commits", R.graph_scratch_small, scratch, "");
  graph_remove(small);
  graph_write_upto(small, "HEAD~50", true);
  graph_copy(small, work + "/graph-small-50");
  std::vector<double> inc;
  for (int i = 0; i < R.graph_incremental; i++) {
    graph_restore(work + "/graph-small-50", small);
    inc.push_back(time_ms([&] { bare_git(small, kLibraryGraphWrite); }));
  }
  add_fact("graph write, 50 new commits, 1,350-commit wiki", R.graph_incremental, inc, "");
}

// Heap the library holds at its highest point during its largest histories.
void bench_memory(const wikis &w) {
  fprintf(stderr, "memory\n");
  const struct {
    const std::string *root;
    const char *title;
    const char *what;
  } cases[] = {{&w.small, "Beta", "page history, 1000 revisions"},
               {&w.big, nullptr, "whole-wiki history, 20,000 commits"}};
  for (const auto &c : cases) {
    wikidb_handle *h = open_or_die(*c.root);
    heap_mark();
    const char *json = wikidb_get_history_json(h, c.title);
    long long peak = heap_peak_since_mark();
    add_memory(c.what, (long long)strlen(json), peak);
    wikidb_close(h);
  }
}

}  // namespace

int main(int argc, char **argv) {
  bool keep = false, saves_only = false;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--keep")) {
      keep = true;
    } else if (!strcmp(argv[i], "--saves")) {
      saves_only = true;
    } else if (!strcmp(argv[i], "--quick")) {
      for (int *r : {&R.open, &R.history, &R.list1k, &R.list10k, &R.recent, &R.revision, &R.save_big,
                     &R.graph_noop, &R.runner})
        *r = *r / 4 > 2 ? *r / 4 : 3;
    } else {
      fprintf(stderr, "usage: %s [--quick] [--keep] [--saves]\n", argv[0]);
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  const std::string work = make_work_dir();
  time_t now = time(nullptr);
  char date[64];
  strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", gmtime(&now));
  std::string machine = "nproc " + shell_line("nproc") + ", " +
                        shell_line("free -h | awk '/^Mem:/{print $2}'") + " RAM, " +
                        shell_line("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2") + ", " +
                        shell_line("git --version");
  fprintf(stderr, "wikidb_bench in %s\n%s\n", work.c_str(), machine.c_str());
  fprintf(stderr,
          "repetitions: open %d, open new %d, history %d, per-commit %d, history without graph %d, "
          "stale graph %d, list 1k %d, list 10k %d, recent %d, revision+diff %d, save in 20k %d, "
          "graph no-op %d, graph incremental %d, graph from scratch %d/%d\n",
          R.open, R.open_new, R.history, R.per_commit, R.history_nograph, R.stale, R.list1k,
          R.list10k, R.recent, R.revision, R.save_big, R.graph_noop, R.graph_incremental,
          R.graph_scratch_small, R.graph_scratch_big);
  fprintf(stderr, "runner overhead %d\n", R.runner);

  wikis w;
  // Each phase starts with the disk idle: the fixtures write hundreds of
  // megabytes, whose writeback would otherwise land in later timings.
  double total = time_ms([&] {
    if (saves_only) {
      // The save rows alone (durability among them): no fixtures needed.
      sync();
      bench_saves(work);
      return;
    }
    build_fixtures(work, &w);
    sync();
    bench_open(work, w);
#ifdef WIKIDB_BENCH_INTERNAL
    bench_runner(w);
#endif
    sync();
    bench_saves(work);
    sync();
    bench_small_reads(work, w);
    sync();
    bench_lists(w);
    sync();
    bench_big_save(w);
    sync();
    bench_big_history(work, w);
    sync();
    bench_small_graph(work, w);
    bench_memory(w);
  });

  printf("Run of %s on %s.\n\n", date, machine.c_str());
  print_tables(stdout);
  printf("\nWhole run: %.0f s.\n", total / 1000);
  if (keep)
    fprintf(stderr, "fixtures kept in %s\n", work.c_str());
  else
    remove_tree(work);
  return 0;
}
