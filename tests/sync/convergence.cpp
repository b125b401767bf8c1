// Convergence: three wikis meeting at one central repository, each with two
// writer processes making conditional saves on shared and own pages and
// syncing every few saves. At the end all sync until quiet; then every tip
// is the same, fsck is clean everywhere, every text a writer was told was
// saved is in the history, no conflict was settled for one side without a
// resolution, and no repository holds merge or rebase state.
// Bounded by counts; prints its figures. Exit status 0 when all hold.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"
#include "wikidb.h"

using nlohmann::json;
using testutil::git;
using testutil::sh;
using testutil::shq;

namespace {

enum { WIKIS = 3, WRITERS = 2, SAVES = 15, SYNC_EVERY = 3, SHARED = 3, ATTEMPTS = 30 };

int g_failures = 0;

void check(bool ok, const std::string &what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what.c_str());
    g_failures++;
  }
}

std::string trim(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The resolution a careful host makes here: every line of both sides.
std::string union_text(const std::string &ours, const std::string &theirs) {
  std::string out = ours;
  if (!out.empty() && out.back() != '\n') out += '\n';
  std::set<std::string> have;
  for (auto &l : lines_of(ours)) have.insert(l);
  for (auto &l : lines_of(theirs))
    if (!have.count(l)) out += l + "\n";
  return out;
}

struct counts {
  int syncs = 0, conflicts = 0, resolutions = 0, failures = 0;
};

// Syncs until it completes, resolving each reported conflict. Returns the
// final state, "" when it never completed within the bound.
std::string sync_resolving(wikidb_handle *h, counts *c, std::ofstream &log) {
  for (int attempt = 0; attempt < ATTEMPTS; attempt++) {
    c->syncs++;
    int rc = wikidb_sync(h, "origin", 0);
    if (rc == -1) {
      // Busy or raced: a later call completes it.
      c->failures++;
      log << "SYNCFAIL " << wikidb_last_error() << "\n";
      fprintf(stderr, "sync failed, retried: %.200s\n", wikidb_last_error());
      usleep(20000 * (attempt + 1));
      continue;
    }
    json r = json::parse(wikidb_sync_report(h));
    if (rc == 0) return r["state"];
    for (auto &conf : r["conflicts"]) {
      c->conflicts++;
      std::string page = conf["page"];
      std::string ours = conf["ours_text"].is_null() ? "" : conf["ours_text"].get<std::string>();
      std::string theirs =
          conf["theirs_text"].is_null() ? "" : conf["theirs_text"].get<std::string>();
      log << "CONFLICT " << page << "\n";
      int res = wikidb_sync_resolve(h, "origin", page.c_str(), union_text(ours, theirs).c_str(),
                                    "Resolver", "Resolve sync conflict");
      if (res == 0) c->resolutions++;
    }
  }
  return "";
}

void writer(const std::string &root, int w, int k, const std::string &log_path) {
  std::ofstream log(log_path);
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) _exit(2);
  counts c;
  int saved = 0;
  for (int i = 0; i < SAVES; i++) {
    std::string title = i % 2 == 0 ? "S" + std::to_string((i / 2 + w + k) % SHARED)
                                    : "W" + std::to_string(w) + std::to_string(k);
    std::string line = "w" + std::to_string(w) + "k" + std::to_string(k) + "n" + std::to_string(i);
    for (int attempt = 0; attempt < ATTEMPTS; attempt++) {
      const char *rev_p = wikidb_page_revision(h, title.c_str());
      if (!rev_p) break;
      std::string rev = rev_p;
      std::string old;
      if (!rev.empty()) {
        const char *t = wikidb_get_revision(h, title.c_str(), rev.c_str());
        if (!t) break;
        old = t;
      }
      int rc = wikidb_save_page_if(h, title.c_str(), (old + line + "\n").c_str(),
                                   ("Writer " + std::to_string(w) + std::to_string(k)).c_str(),
                                   nullptr, rev.c_str(), 0);
      if (rc == 0) {
        log << "SAVED " << wikidb_last_commit(h) << " " << title << " " << line << "\n";
        saved++;
        break;
      }
      if (rc == -1) log << "SAVEFAIL " << wikidb_last_error() << "\n";
    }
    if ((i + 1) % SYNC_EVERY == 0) sync_resolving(h, &c, log);
  }
  log << "COUNTS " << saved << " " << c.syncs << " " << c.conflicts << " " << c.resolutions << " "
      << c.failures << "\n";
  wikidb_close(h);
  log.close();  // _exit runs no destructor
  _exit(log ? 0 : 3);
}

}  // namespace

int main() {
  const time_t start = time(nullptr);
  testutil::TempDir tmp;
  const std::string central = tmp / "central.git";
  sh("git init -q --bare " + shq(central));
  std::vector<std::string> roots;
  for (int w = 0; w < WIKIS; w++) {
    roots.push_back(tmp / ("wiki" + std::to_string(w)));
    wikidb_handle *h = wikidb_open(roots.back().c_str());
    if (!h || wikidb_remote_set(h, "origin", central.c_str(), "main") != 0) {
      fprintf(stderr, "setup: %s\n", wikidb_last_error());
      return 1;
    }
    if (w == 0) {
      for (int s = 0; s < SHARED; s++)
        wikidb_save_page(h, ("S" + std::to_string(s)).c_str(), "shared\n", "Seeder", nullptr);
    }
    if (wikidb_sync(h, "origin", 0) != 0) {
      fprintf(stderr, "setup sync: %s\n", wikidb_last_error());
      return 1;
    }
    wikidb_close(h);
  }

  std::vector<pid_t> pids;
  std::vector<std::string> logs;
  for (int w = 0; w < WIKIS; w++)
    for (int k = 0; k < WRITERS; k++) {
      logs.push_back(tmp / ("log" + std::to_string(w) + std::to_string(k)));
      pid_t pid = fork();
      if (pid == 0) writer(roots[w], w, k, logs.back());
      pids.push_back(pid);
    }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "writer exited cleanly");
  }

  // All sync until quiet: a round where every wiki is up to date.
  counts final_counts;
  std::ofstream final_log(tmp / "final");
  bool quiet = false;
  for (int round = 0; round < 10 && !quiet; round++) {
    quiet = true;
    for (int w = 0; w < WIKIS; w++) {
      wikidb_handle *h = wikidb_open(roots[w].c_str());
      std::string state = h ? sync_resolving(h, &final_counts, final_log) : "";
      quiet = quiet && state == "up_to_date";
      wikidb_close(h);
    }
  }
  check(quiet, "all wikis reach a quiet round");

  const std::string tip = trim(git(central, "rev-parse main"));
  for (auto &r : roots) {
    check(trim(git(r, "rev-parse HEAD")) == tip, r + " has the central tip");
    for (const char *f : {"MERGE_HEAD", "rebase-merge", "rebase-apply", "wikidb-journal"})
      check(!testutil::exists(r + "/.git/" + f), r + " holds no " + f);
    check(git(r, "status --porcelain").empty(), r + " work tree and index match HEAD");
    check(git(r, "grep -l -e '^<<<<<<< ' HEAD -- pages").empty(), r + " has no conflict markers");
  }
  for (auto &r : roots) {
    int status = -1;
    git(r, "fsck --full 2>&1", &status);
    check(status == 0, "fsck " + r);
  }
  int status = -1;
  git(central, "fsck --full 2>&1", &status);
  check(status == 0, "fsck central");

  // Every save a writer was told succeeded: its commit in the central
  // history with its text, and its line still in the page at the tip.
  int saves = 0, syncs = final_counts.syncs, conflicts = final_counts.conflicts,
      resolutions = final_counts.resolutions, failures = final_counts.failures;
  std::map<std::string, std::string> tip_text;
  for (auto &path : logs) {
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) {
      std::istringstream f(l);
      std::string kind;
      f >> kind;
      if (kind == "SAVED") {
        std::string commit, title, line;
        f >> commit >> title >> line;
        saves++;
        int anc = -1;
        git(central, "merge-base --is-ancestor " + commit + " main", &anc);
        check(anc == 0, "saved commit " + commit + " is in the central history");
        std::string text = git(central, "show " + commit + ":" + shq("pages/" + title + ".wiki"));
        check(text.find(line + "\n") != std::string::npos, "commit " + commit + " holds " + line);
        if (!tip_text.count(title))
          tip_text[title] = git(central, "show main:" + shq("pages/" + title + ".wiki"));
        check(tip_text[title].find(line + "\n") != std::string::npos,
              "the tip keeps " + line + " in " + title);
      } else if (kind == "COUNTS") {
        int s, y, c, r, x;
        f >> s >> y >> c >> r >> x;
        syncs += y;
        conflicts += c;
        resolutions += r;
        failures += x;
      }
    }
  }
  check(saves > 0, "writers saved");
  const std::string merges = trim(git(central, "rev-list --merges --count main"));
  printf("convergence: %d wikis x %d writers, %d saves, %d syncs, %s merges, %d conflicts "
         "reported, %d resolutions, %d failed syncs retried, %ld s\n",
         WIKIS, WRITERS, saves, syncs, merges.c_str(), conflicts, resolutions, failures,
         (long)(time(nullptr) - start));
  return g_failures ? 1 : 0;
}
