// The wikis the benchmark measures: small ones made through the library,
// large ones written in one go with "git fast-import".
#pragma once

#include <string>
#include <vector>

// A fresh directory below $TMPDIR (or /tmp); the benchmark removes it at the end.
std::string make_work_dir();
void remove_tree(const std::string &path);
void write_file(const std::string &path, const std::string &text);

// Deterministic page text of a few hundred bytes to a few kilobytes.
std::string page_text(const std::string &title, int revision);

// The identity the library commits a bare author name under.
std::string library_identity(const std::string &name);

// A wiki made through the library: page "Alpha" with 50 revisions, "Gamma"
// with 300 and "Beta" with 1000, interleaved (1350 commits, loose objects).
void build_small_wiki(const std::string &root);

// One commit for fast-import: files are (repository path, content).
struct import_commit {
  std::string author;
  long long time;
  std::string message;
  std::vector<std::pair<std::string, std::string>> files;
};

// Opens root with the library (git init and settings), imports the commits
// onto the current branch and checks them out into the work tree and index.
void import_wiki(const std::string &root, const std::vector<import_commit> &commits);

// 2,000 pages P0..P1999 created in one commit, then commits changing one
// page each, up to `commits` in all.
std::vector<import_commit> big_history(int pages, int commits);
// `pages` pages "Topic-NNNNN" in one commit.
std::vector<import_commit> flat_pages(int pages);

// Leaves the index stat data fresh after a checkout (run a second after it,
// so no entry is racily clean and rehashed by every later command).
void refresh_index(const std::string &root);

// git's commit-graph files of a wiki.
void graph_remove(const std::string &root);
void graph_copy(const std::string &from_root, const std::string &to_dir);
void graph_restore(const std::string &from_dir, const std::string &to_root);
// Writes (or, with split, adds a layer to) the graph so that it holds the
// commit `rev` and its ancestors, with changed-path filters.
void graph_write_upto(const std::string &root, const std::string &rev, bool split);
// Layers in the split graph chain, 1 for a single graph file, 0 for none.
int graph_layers(const std::string &root);
