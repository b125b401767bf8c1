// The paged reads in a large wiki: 10,000 pages (about 100 MB of text) and
// 100,000 commits made with fast-import, with the commit-graph the library
// writes at open. Each read is timed against the bare git command a host
// would run for the same view, side by side in one run, and the library's
// heap peak is measured for each.
//
// usage: wikidb_reads_bench [--quick] [CACHE_DIR]
// The fixture is built once into CACHE_DIR (default: ./reads-bench-cache
// below the current directory, i.e. the build directory) and reused.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bare_git.h"
#include "fixtures.h"
#include "heap_peak.h"
#include "measure.h"
#include "wikidb.h"

namespace {

const int kPages = 10000, kCommits = 100000, kHotEvery = 5;
const char *const kWord = "markup";  // in every big page, many times

void die(const std::string &what) {
  fprintf(stderr, "wikidb_reads_bench: %s (%s)\n", what.c_str(), wikidb_last_error());
  exit(1);
}

// Page 0 is "Hot", changed by every 5th commit (20,000 revisions); pages
// 1..999 are small and take the other changes; 1000..9999 are about 11 KB
// each and never change after the first commit.
std::vector<import_commit> big_wiki() {
  static const char *const authors[] = {"alice", "bob", "carol", "dave", "erin"};
  std::vector<import_commit> out;
  out.reserve(kCommits);
  import_commit first{"alice", 1600000000, "Import the pages", {}};
  std::string big;
  for (int k = 0; k < 90; k++)
    big += "A wiki page holds plain text with a little markup: '''bold''', ''italic'' and links.\n";
  for (int p = 0; p < kPages; p++) {
    std::string title = p == 0 ? "Hot" : "Page-" + std::to_string(p);
    std::string text = p < 1000 ? page_text(title, 0) : "= " + title + " =\n" + big;
    first.files.push_back({"pages/" + title + ".wiki", text});
  }
  out.push_back(std::move(first));
  for (int i = 1; i < kCommits; i++) {
    std::string title = i % kHotEvery == 0 ? "Hot" : "Page-" + std::to_string(1 + (i * 7919) % 999);
    out.push_back({authors[i % 5], 1600000000 + (long long)i * 60, "Update " + title,
                   {{"pages/" + title + ".wiki", page_text(title, i)}}});
  }
  return out;
}

std::string build_or_reuse(const std::string &cache) {
  const std::string root = cache + "/wiki100k";
  struct stat st;
  if (stat((root + "/.git/wikidb-reads-bench-ready").c_str(), &st) == 0) {
    fprintf(stderr, "reusing %s\n", root.c_str());
    return root;
  }
  remove_tree(root);
  mkdir(cache.c_str(), 0777);
  double t = time_ms([&] { import_wiki(root, big_wiki()); });
  fprintf(stderr, "fixture: %d pages, %d commits (fast-import): %.1f s\n", kPages, kCommits, t / 1000);
  sleep(1);
  refresh_index(root);
  // The library's open writes the graph an imported wiki lacks.
  t = time_ms([&] {
    wikidb_handle *h = wikidb_open(root.c_str());
    if (!h) die("open");
    wikidb_close(h);
  });
  fprintf(stderr, "first open (commit-graph write): %.1f s\n", t / 1000);
  write_file(root + "/.git/wikidb-reads-bench-ready", "1\n");
  return root;
}

std::string next_of(const char *json) {
  const char *n = strstr(json, ",\"next\":\"");
  if (!n) return "";
  n += 9;
  return std::string(n, strchr(n, '"') - n);
}

size_t count_of(const char *text, const char *needle) {
  if (!text) die("a read failed");
  size_t n = 0;
  for (const char *p = text; (p = strstr(p, needle)); p += strlen(needle)) n++;
  return n;
}

// The heap peak of one call, and its result's length.
template <typename F>
void memory_of(const std::string &what, F call) {
  heap_mark();
  const char *json = call();
  long long peak = heap_peak_since_mark();
  if (!json) die(what);
  add_memory(what, (long long)strlen(json), peak);
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = false;
  std::string cache = "reads-bench-cache";
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--quick") == 0)
      quick = true;
    else
      cache = argv[i];
  }
  char cwd[4096];
  if (cache[0] != '/' && getcwd(cwd, sizeof cwd)) cache = std::string(cwd) + "/" + cache;
  const std::string root = build_or_reuse(cache);
  const int reps = quick ? 5 : 20, slow_reps = quick ? 2 : 5;
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) die("open");
  sync();
  const std::string hot = "pages/Hot.wiki";
  std::string out;

  // One page's history, first page of 50.
  auto first_page = [&] {
    return wikidb_history_page_json(h, "Hot", nullptr, 50, nullptr, nullptr, nullptr, WIKIDB_FOLLOW);
  };
  if (count_of(first_page(), "{\"hash\":") != 50) die("first page");
  pair_times t = time_pair(reps, [&](int) { first_page(); },
                           [&](int) { bare_git(root, {"log", "-n50", "--", hot}, &out); });
  add_row("page history, first page of 50 (20,000-revision page)", reps, t,
          "floor: git log -n50 -- PATH");
  const pair_times first = t;

  // Today's whole-history call, against the first page.
  const int whole_reps = quick ? 1 : 3;
  t = time_pair(whole_reps, [&](int) { first_page(); },
                [&](int) { wikidb_get_history_json(h, "Hot"); });
  add_row("page history, first page of 50 vs whole history (library)", whole_reps, t,
          "floor column: wikidb_get_history_json, 20,000 entries");

  // The 100th page through the cursor, against the first.
  std::string cursor;
  for (int i = 0; i < 99; i++) {
    const char *j = wikidb_history_page_json(h, "Hot", cursor.empty() ? nullptr : cursor.c_str(), 50,
                                             nullptr, nullptr, nullptr, WIKIDB_FOLLOW);
    if (!j) die("paging");
    cursor = next_of(j);
    if (cursor.empty()) die("the history ended early");
  }
  auto page100 = [&] {
    return wikidb_history_page_json(h, "Hot", cursor.c_str(), 50, nullptr, nullptr, nullptr,
                                    WIKIDB_FOLLOW);
  };
  if (count_of(page100(), "{\"hash\":") != 50) die("page 100");
  t = time_pair(reps, [&](int) { page100(); }, [&](int) { first_page(); });
  add_row("page history, 100th page through the cursor vs the first", reps, t,
          "floor column: the first page (library)");
  t = time_pair(reps, [&](int) { page100(); },
                [&](int) { bare_git(root, {"log", "-n50", "--skip=4950", "--", hot}, &out); });
  add_row("page history, 100th page vs git log --skip=4950 -n50", reps, t,
          "floor: git log --skip=4950 -n50 -- PATH");

  // The whole wiki's history, first page.
  auto wiki_first = [&] {
    return wikidb_history_page_json(h, nullptr, nullptr, 50, nullptr, nullptr, nullptr, 0);
  };
  t = time_pair(reps, [&](int) { wiki_first(); },
                [&](int) { bare_git(root, {"log", "-n50", "--name-status", "--", "pages/"}, &out); });
  add_row("whole-wiki history, first page of 50", reps, t, "floor: git log -n50 --name-status -- pages/");

  // Recent changes, first page.
  auto recent_first = [&] { return wikidb_recent_page_json(h, nullptr, 50, nullptr, nullptr); };
  t = time_pair(reps, [&](int) { recent_first(); },
                [&](int) { bare_git(root, {"log", "-n50", "--name-status", "--", "pages/"}, &out); });
  add_row("recent changes, first page of 50", reps, t, "floor: git log -n50 --name-status -- pages/");
  auto recent_filtered = [&] { return wikidb_recent_page_json(h, nullptr, 50, "bob", "2020-09-14"); };
  t = time_pair(reps, [&](int) { recent_filtered(); },
                [&](int) {
                  bare_git(root, {"log", "-n50", "--name-status", "--author=bob",
                                  "--since=2020-09-14 00:00:00 +0000", "--", "pages/"}, &out);
                });
  add_row("recent changes by one author since a date, first page", reps, t,
          "floor: the same log with --author and --since");

  // Search of a common word, 100 hits.
  auto search = [&] { return wikidb_search_json(h, kWord, 100, 0); };
  if (count_of(search(), "{\"page\":") != 100) die("search");
  t = time_pair(slow_reps, [&](int) { search(); },
                [&](int) { bare_git(root, {"grep", "-I", "-i", "-F", "-e", kWord, "--", "pages/"}, &out); });
  add_row("search of a common word, limit 100", slow_reps, t,
          "floor: git grep -i -F -e WORD -- pages/ (every hit, " + std::to_string(count_of(out.c_str(), "\n")) +
              " lines)");
  auto search_rare = [&] { return wikidb_search_json(h, "Revision 99995.", 100, 0); };
  t = time_pair(slow_reps, [&](int) { search_rare(); },
                [&](int) {
                  bare_git(root, {"grep", "-I", "-i", "-F", "--all-match", "-e", "Revision", "-e", "99995.",
                                  "--", "pages/"}, &out);
                });
  add_row("search of two words on one page, limit 100", slow_reps, t,
          "floor: git grep --all-match of the two words");
  auto search_umlaut = [&] { return wikidb_search_json(h, "\xc3\x9c" "BER", 100, 0); };
  t = time_pair(slow_reps, [&](int) { search_umlaut(); },
                [&](int) { bare_git(root, {"grep", "-I", "-i", "-F", "-e", "\xc3\xbc" "ber", "--", "pages/"}, &out); });
  add_row("search of a word with a non-ASCII letter (no hits)", slow_reps, t,
          "floor: git grep -i -F (which does not fold it in the C locale)");
  (void)first;

  memory_of("page history, first page of 50", first_page);
  memory_of("page history, 100th page", page100);
  memory_of("whole-wiki history, first page of 50", wiki_first);
  memory_of("recent changes, first page of 50", recent_first);
  memory_of("search, common word, limit 100", search);
  memory_of("today's whole page history (20,000 entries)", [&] { return wikidb_get_history_json(h, "Hot"); });
  wikidb_close(h);
  print_tables(stdout);
  return 0;
}
