// The record behind the opaque wikidb_handle.
#pragma once

#include <stddef.h>

#include "wikidb.h"

enum { WIKIDB_ROOT_CAP = 1024 };

struct wikidb_handle {
  char root[WIKIDB_ROOT_CAP];
  // Result slots: each owns the latest text its query returned, or is null.
  char *page_buf;
  char *history_buf;
  char *revision_buf;
  char *diff_buf;
  char *list_buf;
  char *recent_buf;
  // The paged reads, one slot each.
  char *history_page_buf;
  char *recent_page_buf;
  char *search_buf;
  char *deleted_buf;
  char *blame_buf;
  // Whether the history behind commit merges_from holds a merge (the page
  // histories then walk every side of it); merges_from "" when unknown.
  char merges_from[72];
  bool merges_behind;
  // Commits this handle made since it last refreshed git's commit-graph.
  unsigned commits_since_graph;
  // The write API: the page-revision and conflict-report slots, the commit
  // the last write made ("" for none), and the batch begun, if any.
  char *page_revision_buf;
  char *conflict_buf;
  char last_commit[72];
  struct write_ops *batch;
  void (*release_batch)(wikidb_handle *h);  // frees batch; set with it
  // Sync: the last report, and the host's transport settings for this
  // handle ("KEY\0VALUE\0" pairs, sync_config_len bytes).
  char *sync_buf;
  char *sync_config;
  size_t sync_config_len;
};

// Frees the slot's old text and stores the new one (which may be null).
void replace_slot(char **slot, char *text);

// Creates a directory and its missing parents; paths of 1024 bytes or more
// are left alone. Reports nothing: a missing directory shows up later.
void mkdir_p(const char *path);
