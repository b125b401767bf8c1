// When git's commit-graph needs writing again: read from git's own files
// (HEAD, its reflog, packed-refs), without starting a process.
#pragma once

// Commits a wiki may gain before git's commit-graph is written again: a
// page's history then walks at most this many commits without the graph's
// changed-path filters.
enum { GRAPH_REFRESH_COMMITS = 50 };

// Whether git's commit-graph is missing from a wiki that has commits, or
// trails HEAD by GRAPH_REFRESH_COMMITS commits or more by its reflog. Reads
// a few files and starts no process; an unreadable reflog counts as current.
bool commit_graph_behind(const char *root);
