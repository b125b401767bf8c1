#include "fixtures.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bare_git.h"
#include "wikidb.h"

namespace fs = std::filesystem;

std::string make_work_dir() {
  const char *tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/wikidb-bench-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    perror("mkdtemp");
    exit(1);
  }
  return buf.data();
}

void remove_tree(const std::string &path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
  if (!f) {
    fprintf(stderr, "wikidb_bench: cannot write %s\n", path.c_str());
    exit(1);
  }
}

std::string page_text(const std::string &title, int revision) {
  static const char filler[] =
      "A wiki page holds plain text with a little markup: '''bold''', ''italic'', "
      "[[links to other pages]] and lists.\n";
  std::string text = "= " + title + " =\nRevision " + std::to_string(revision) + ".\n";
  int lines = 3 + (revision * 7 + (int)title.size()) % 25;
  for (int i = 0; i < lines; i++) text += filler;
  return text;
}

std::string library_identity(const std::string &name) {
  return name + " <" + name + "@users.quenlow-wikidb.invalid>";
}

static void must_save(wikidb_handle *h, const std::string &title, const std::string &text,
                      const char *author) {
  if (wikidb_save_page(h, title.c_str(), text.c_str(), author, nullptr) != 0) {
    fprintf(stderr, "wikidb_bench: save of %s failed: %s\n", title.c_str(), wikidb_last_error());
    exit(1);
  }
}

void build_small_wiki(const std::string &root) {
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) {
    fprintf(stderr, "wikidb_bench: open %s failed: %s\n", root.c_str(), wikidb_last_error());
    exit(1);
  }
  static const char *const authors[] = {"alice", "bob", "carol"};
  int alpha = 0, gamma = 0;
  for (int i = 0; i < 1000; i++) {
    must_save(h, "Beta", page_text("Beta", i), authors[i % 3]);
    if (i % 10 < 3) must_save(h, "Gamma", page_text("Gamma", gamma++), authors[(i + 1) % 3]);
    if (i % 20 == 0) must_save(h, "Alpha", page_text("Alpha", alpha++), authors[(i + 2) % 3]);
  }
  wikidb_close(h);
}

static std::string branch_ref(const std::string &root) {
  std::ifstream f(root + "/.git/HEAD");
  std::string line;
  std::getline(f, line);
  if (line.rfind("ref: ", 0) != 0) {
    fprintf(stderr, "wikidb_bench: %s/.git/HEAD names no branch\n", root.c_str());
    exit(1);
  }
  return line.substr(5);
}

static void append_data(std::string &s, const std::string &data) {
  s += "data " + std::to_string(data.size()) + "\n" + data + "\n";
}

void import_wiki(const std::string &root, const std::vector<import_commit> &commits) {
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) {
    fprintf(stderr, "wikidb_bench: open %s failed: %s\n", root.c_str(), wikidb_last_error());
    exit(1);
  }
  wikidb_close(h);
  const std::string ref = branch_ref(root);
  std::string stream;
  for (const import_commit &c : commits) {
    std::string who = library_identity(c.author) + " " + std::to_string(c.time) + " +0000\n";
    stream += "commit " + ref + "\nauthor " + who + "committer " + who;
    append_data(stream, c.message);
    for (const auto &f : c.files) {
      stream += "M 100644 inline " + f.first + "\n";
      append_data(stream, f.second);
    }
    stream += "\n";
  }
  must_git(root, {"fast-import", "--quiet"}, &stream);
  must_git(root, {"reset", "-q", "--hard"});
}

std::vector<import_commit> big_history(int pages, int commits) {
  static const char *const authors[] = {"alice", "bob", "carol", "dave", "erin"};
  std::vector<import_commit> out;
  import_commit first{"alice", 1600000000, "Import the pages", {}};
  for (int p = 0; p < pages; p++) {
    std::string title = "P" + std::to_string(p);
    first.files.push_back({"pages/" + title + ".wiki", page_text(title, 0)});
  }
  out.push_back(std::move(first));
  for (int i = 1; i < commits; i++) {
    int p = (int)((long long)i * 7919 % pages);
    std::string title = "P" + std::to_string(p);
    out.push_back({authors[i % 5], 1600000000 + (long long)i * 600, "Update " + title,
                   {{"pages/" + title + ".wiki", page_text(title, i)}}});
  }
  return out;
}

std::vector<import_commit> flat_pages(int pages) {
  import_commit c{"alice", 1600000000, "Import the pages", {}};
  char name[32];
  for (int p = 0; p < pages; p++) {
    snprintf(name, sizeof name, "Topic-%05d", p);
    c.files.push_back({std::string("pages/") + name + ".wiki", page_text(name, p)});
  }
  return {c};
}

void refresh_index(const std::string &root) {
  bare_git(root, {"update-index", "-q", "--refresh"});
  must_git(root, {"status", "--porcelain"});
}

static std::string info_dir(const std::string &root) { return root + "/.git/objects/info"; }

void graph_remove(const std::string &root) {
  std::error_code ec;
  fs::remove(info_dir(root) + "/commit-graph", ec);
  fs::remove_all(info_dir(root) + "/commit-graphs", ec);
}

static void copy_graph_files(const std::string &from, const std::string &to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (fs::exists(from + "/commit-graph"))
    fs::copy(from + "/commit-graph", to + "/commit-graph", fs::copy_options::overwrite_existing);
  if (fs::exists(from + "/commit-graphs"))
    fs::copy(from + "/commit-graphs", to + "/commit-graphs",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void graph_copy(const std::string &from_root, const std::string &to_dir) {
  remove_tree(to_dir);
  copy_graph_files(info_dir(from_root), to_dir);
}

void graph_restore(const std::string &from_dir, const std::string &to_root) {
  graph_remove(to_root);
  copy_graph_files(from_dir, info_dir(to_root));
}

void graph_write_upto(const std::string &root, const std::string &rev, bool split) {
  std::string input = must_git(root, {"rev-parse", rev});
  std::vector<std::string> args = {"commit-graph", "write", "--stdin-commits", "--changed-paths"};
  if (split) args.push_back("--split");
  must_git(root, args, &input);
}

int graph_layers(const std::string &root) {
  std::ifstream chain(info_dir(root) + "/commit-graphs/commit-graph-chain");
  if (chain) {
    int n = 0;
    std::string line;
    while (std::getline(chain, line))
      if (!line.empty()) n++;
    return n;
  }
  return fs::exists(info_dir(root) + "/commit-graph") ? 1 : 0;
}
