// The write API's save against the thirteen functions' save, against the
// bare git processes it runs, and against libgit2's TreeBuilder through
// pygit2, at 100, 10,000 and 100,000 pages; and a 10-page batch.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bare_git.h"
#include "fixtures.h"
#include "measure.h"
#include "wikidb.h"
#include "write/objects.h"
#include "write/tree_edit.h"

namespace {

void die(const std::string &what) {
  fprintf(stderr, "write_bench: %s (%s)\n", what.c_str(), wikidb_last_error());
  exit(1);
}

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Pages of about a hundred bytes: the tree, not the texts, is what grows.
std::vector<import_commit> small_pages(int pages) {
  import_commit c{"alice", 1600000000, "Import the pages", {}};
  char name[32];
  for (int p = 0; p < pages; p++) {
    snprintf(name, sizeof name, "Topic-%05d", p);
    c.files.push_back({std::string("pages/") + name + ".wiki",
                       std::string("Page ") + name + " of the imported wiki.\n"});
  }
  return {c};
}

// The git processes the conditional save runs, with their inputs made here:
// read the tip, its trees and the expected text, the blob and the two trees
// in one pack, the commit, the compare-and-swap, the file and its index
// entry.
void floor_save(const std::string &root, const std::string &title, const std::string &text) {
  const std::string path = "pages/" + title + ".wiki";
  // The page at the tip's parent stands for the expected revision's text.
  std::string in = std::string("HEAD") + '\0' + "HEAD:" + '\0' + "HEAD:pages" + '\0' + "HEAD^:" +
                   path + '\0', out;
  bare_git(root, {"cat-file", "--batch", "-z"}, &out, &in);
  // Header "HASH commit SIZE\n", then the three objects in order.
  size_t pos = 0;
  std::string raw_objects[3], hashes[3];
  for (int i = 0; i < 3; i++) {
    size_t eol = out.find('\n', pos);
    std::string header = out.substr(pos, eol - pos);
    hashes[i] = header.substr(0, header.find(' '));
    size_t size = std::stoul(header.substr(header.rfind(' ') + 1));
    raw_objects[i] = out.substr(eol + 1, size);
    pos = eol + 1 + size + 1;
  }
  // The blob and both trees named here and sent in one pack.
  object_batch objects;
  objects_begin(&objects, root.c_str(), 20);
  char blob[HASH_HEX_CAP];
  objects_add(&objects, "blob", text.data(), text.size(), blob);
  auto edit = [&](const std::string &raw, const std::string &name, const char *mode,
                  const std::string &hex) {
    raw_tree_entry *entries = nullptr;
    size_t n = 0;
    if (tree_parse(raw.data(), raw.size(), 20, &entries, &n) != 0) die("tree");
    tree_change c = {name.data(), name.size(), true, mode, {}};
    hash_from_hex(hex.data(), hex.size(), c.hash, 20);
    strbuf built = {};
    tree_build(entries, n, &c, 1, 20, &built);
    char id[HASH_HEX_CAP];
    objects_add(&objects, "tree", built.data, built.len, id);
    strbuf_release(&built);
    free(entries);
    return std::string(id);
  };
  const std::string pages = edit(raw_objects[2], title + ".wiki", "100644", blob);
  const std::string top = edit(raw_objects[1], "pages", "40000", pages);
  objects_pack_finish(&objects);
  const std::string pack(objects.pack.data, objects.pack.len);
  objects_release(&objects);
  bare_git(root, {"unpack-objects", "-q"}, nullptr, &pack);
  std::string message = "Update " + title + "\n", commit;
  bare_git(root, {"commit-tree", top, "-p", hashes[0]}, &commit, &message);
  bare_git(root, {"update-ref", "-m", "wikidb: commit", "HEAD", trim(commit), hashes[0]});
  write_file(root + "/" + path, text);
  std::string info = "100644 " + std::string(blob) + "\t" + path + '\0';
  bare_git(root, {"update-index", "-z", "--index-info"}, nullptr, &info);
}

const char *const kPygit2 = R"PY(
import sys, time, pygit2
root, reps = sys.argv[1], int(sys.argv[2])
repo = pygit2.Repository(root)
sig = pygit2.Signature("bench", "bench@example.org")
for i in range(reps):
    t0 = time.perf_counter()
    head = repo.head.peel(pygit2.Commit)
    blob = repo.create_blob(("pygit2 text %d\n" % i).encode())
    pages = repo.TreeBuilder(head.tree["pages"].id)
    pages.insert("Py-%d.wiki" % (i % 3), blob, pygit2.GIT_FILEMODE_BLOB)
    top = repo.TreeBuilder(head.tree)
    top.insert("pages", pages.write(), pygit2.GIT_FILEMODE_TREE)
    repo.create_commit("HEAD", sig, sig, "Update Py", top.write(), [head.id])
    print((time.perf_counter() - t0) * 1000.0, flush=True)
)PY";

// Medians of pygit2's TreeBuilder save, timed inside Python; empty when
// pygit2 is not there.
std::vector<double> pygit2_times(const std::string &work, const std::string &root, int reps) {
  const std::string script = work + "/pygit2_save.py";
  write_file(script, kPygit2);
  // Debian's python3 carries python3-pygit2; another python3 first on PATH
  // may not.
  const char *python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::string cmd = std::string(python) + " " + script + " " + root + " " + std::to_string(reps) +
                    " 2>/dev/null";
  std::vector<double> ms;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char line[64];
    while (fgets(line, sizeof line, p)) ms.push_back(atof(line));
    pclose(p);
  }
  return ms;
}

void bench_size(const std::string &work, int pages, int reps) {
  const std::string root = work + "/pages" + std::to_string(pages);
  double t = time_ms([&] { import_wiki(root, small_pages(pages)); });
  fprintf(stderr, "fixture of %d pages: %.1f s\n", pages, t / 1000);
  sleep(1);  // no racily clean entries in the index
  refresh_index(root);
  sync();
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) die("open");
  const std::string n = pages >= 1000 ? std::to_string(pages / 1000) + "k" : std::to_string(pages);
  // Each variant edits pages of its own, so that none meets another's
  // change; texts never repeat, so every save commits. The revision a host
  // would hold is what the page's last save made.
  static int serial = 0;
  std::string revs[3];
  for (int p = 0; p < 3; p++) revs[p] = wikidb_page_revision(h, ("Cond-" + std::to_string(p)).c_str());
  auto cond_save = [&](int i) {
    const std::string title = "Cond-" + std::to_string(i % 3);
    if (wikidb_save_page_if(h, title.c_str(), ("conditional " + std::to_string(++serial) + "\n").c_str(),
                            "bench", nullptr, revs[i % 3].c_str(), 0) != 0 ||
        !*wikidb_last_commit(h))
      die("conditional save");
    revs[i % 3] = wikidb_last_commit(h);
  };
  pair_times thirteen = time_pair(
      reps, cond_save,
      [&](int i) {
        const std::string title = "Plain-" + std::to_string(i % 3);
        if (wikidb_save_page(h, title.c_str(), ("plain " + std::to_string(++serial) + "\n").c_str(),
                             "bench", nullptr) != 0 || !*wikidb_last_commit(h))
          die("save");
      });
  add_row("conditional save vs wikidb_save_page, " + n + " pages", reps, thirteen,
          "floor column: the thirteen functions' save (add + commit + rev-parse)");
  pair_times plumbing = time_pair(
      reps, cond_save,
      [&](int i) { floor_save(root, "Floor-" + std::to_string(i % 3), "floor " + std::to_string(++serial) + "\n"); });
  add_row("conditional save vs its bare git processes, " + n + " pages", reps, plumbing,
          "cat-file, unpack-objects, commit-tree, update-ref, update-index");
  std::vector<double> py = pygit2_times(work, root, reps);
  if (!py.empty()) {
    pair_times vs_py = {plumbing.lib, py};
    add_row("conditional save vs pygit2 TreeBuilder save, " + n + " pages", reps, vs_py,
            "pygit2 writes objects and the ref only (no index, no file); timed in Python");
  } else {
    fprintf(stderr, "  pygit2 not available: no TreeBuilder row\n");
  }
  // Ten pages in one commit against ten conditional saves.
  const int batch_reps = reps < 4 ? reps : 4;
  pair_times batch = time_pair(
      batch_reps,
      [&](int) {
        if (wikidb_begin(h) != 0) die("begin");
        for (int p = 0; p < 10; p++) {
          const std::string title = "Batch-" + std::to_string(p);
          wikidb_stage_save(h, title.c_str(), ("batch " + std::to_string(++serial) + "\n").c_str(), nullptr);
        }
        if (wikidb_commit(h, "bench", "ten pages", 0) != 0) die("commit");
      },
      [&](int) {
        for (int p = 0; p < 10; p++) {
          const std::string title = "Single-" + std::to_string(p);
          if (wikidb_save_page_if(h, title.c_str(), ("single " + std::to_string(++serial) + "\n").c_str(),
                                  "bench", nullptr, nullptr, 0) != 0)
            die("single");
        }
      });
  add_row("10-page batch vs 10 conditional saves, " + n + " pages", batch_reps, batch,
          "one commit against ten");
  wikidb_close(h);
  int status = 0;
  std::string fsck;
  status = bare_git(root, {"fsck", "--no-progress", "--connectivity-only"}, &fsck);
  if (status != 0) die("fsck after the run: " + fsck);
  remove_tree(root);
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = argc > 1 && !strcmp(argv[1], "--quick");
  signal(SIGPIPE, SIG_IGN);
  const std::string work = make_work_dir();
  time_t now = time(nullptr);
  char date[64];
  strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", gmtime(&now));
  double total = time_ms([&] {
    bench_size(work, 100, quick ? 6 : 20);
    bench_size(work, 10000, quick ? 4 : 10);
    bench_size(work, 100000, quick ? 3 : 6);
  });
  printf("Run of %s.\n\n", date);
  print_tables(stdout);
  printf("\nWhole run: %.0f s.\n", total / 1000);
  remove_tree(work);
  return 0;
}
