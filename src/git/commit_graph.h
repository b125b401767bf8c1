// When git's commit-graph needs writing again: read from git's own files
// (HEAD, its reflog, packed-refs), without starting a process.
#pragma once

// Commits a wiki may gain before git's commit-graph is written again: a
// page's history then walks at most this many commits without the graph's
// changed-path filters.
enum { GRAPH_REFRESH_COMMITS = 50 };

// Changed-path filters one graph write may compute. Each costs git a diff of
// the commit against its parent, 0.6 to 1 ms in a wiki of 10,000 pages, and
// rewriting a 100,000-commit graph without new filters about 0.5 s: a write
// with this many new filters stays within about a second, and the filters
// of an imported history are completed over many opens and refreshes
// instead of in one call of a minute.
enum { GRAPH_NEW_FILTERS = 500 };

// Whether every commit in the graph carries its changed-path filter, read
// from the graph's files (the single file, else each layer of the chain).
// A wiki without a graph, and files that cannot be read as a graph, count
// as complete: nothing a write could finish.
bool commit_graph_filters_complete(const char *root);

enum graph_upkeep {
  GRAPH_KEEP,  // nothing to do
  GRAPH_ADD,   // write the commits the graph lacks (the whole graph when missing)
  GRAPH_FILL,  // rewrite the graph, computing more of its missing filters
};

// What the graph needs at open (due false) or at a handle's periodic
// refresh (due true, when new commits are known to be waiting). Reads a few
// files and starts no process. A graph missing from a wiki with commits, or
// trailing HEAD by GRAPH_REFRESH_COMMITS commits or more by its reflog,
// needs the new commits; one whose filters are incomplete, a rewrite. An
// unreadable reflog counts as current.
graph_upkeep commit_graph_upkeep(const char *root, bool due);

// Whether HEAD names a commit, by git's files alone (its branch exists,
// loose or packed, or HEAD is detached): tells a new wiki from a git that
// failed without a word.
bool head_has_commits(const char *root);
