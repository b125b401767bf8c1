// The large wikis of the scale benchmark, built once into a cache directory
// and copied (or reused read-only) by each run: importing 100,000 commits
// takes minutes, far longer than the rows measured on them.
#pragma once

#include <string>

// A wiki of `pages` pages and `commits` commits (one page changed per commit
// after the first), made with git fast-import under cache/name unless it is
// there already; returns its root. Built without any commit-graph.
std::string cached_history_wiki(const std::string &cache, const std::string &name, int pages,
                                int commits);

// A wiki of `pages` pages in one commit, under cache/name unless it is there.
std::string cached_flat_wiki(const std::string &cache, const std::string &name, int pages);

// Copies a wiki (work tree and repository) to dest, replacing it.
void copy_wiki(const std::string &from, const std::string &dest);

// Bytes in the repository's object store, and its loose objects and packs.
struct store_size {
  long long bytes = 0;
  long long loose = 0;
  long long packs = 0;
};
store_size object_store_size(const std::string &root);
