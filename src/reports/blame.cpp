// Blame of a page at a revision, continued across recorded renames.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/parse_log.h"
#include "reports/reads.h"
#include "store/paths.h"

enum { MAX_RENAME_DEPTH = 32 };

namespace {

// One blame run, and what its commits lead to.
struct level {
  git_output out;
  blame_result b;
  // Per commit: 0 not looked at, 1 no recorded rename, 2 continued below.
  unsigned char *state;
  struct level **below;  // the old title's blame at the commit's parent
  git_output *diff;      // from the old page to the new one in that commit
};

struct blame_run {
  const char *root;
  level *levels[MAX_RENAME_DEPTH * 8];
  size_t n_levels;
  strbuf scratch;
  bool failed;
};

}  // namespace

static void level_free(level *l) {
  if (!l) return;
  for (size_t i = 0; i < l->b.n_commits; i++)
    if (l->diff) git_output_release(&l->diff[i]);
  free(l->state);
  free(l->below);
  free(l->diff);
  blame_result_release(&l->b);
  git_output_release(&l->out);
  free(l);
}

static level *blame_at(blame_run *run, const char *commit, const char *repo_path) {
  if (run->n_levels == sizeof run->levels / sizeof *run->levels) return nullptr;
  level *l = static_cast<level *>(calloc(1, sizeof *l));
  if (!l) {
    note_out_of_memory();
    return nullptr;
  }
  run->levels[run->n_levels++] = l;
  if (git_blame(run->root, commit, repo_path, &l->out) != 0) {
    run->failed = true;
    return nullptr;
  }
  if (!parse_blame(l->out.out, l->out.out_len, &l->b)) {
    if (out_of_memory_count()) set_error("Unexpected output from git blame");
    run->failed = true;
    return nullptr;
  }
  size_t n = l->b.n_commits ? l->b.n_commits : 1;
  l->state = static_cast<unsigned char *>(calloc(n, 1));
  l->below = static_cast<level **>(calloc(n, sizeof *l->below));
  l->diff = static_cast<git_output *>(calloc(n, sizeof *l->diff));
  if (!l->state || !l->below || !l->diff) {
    note_out_of_memory();
    run->failed = true;
    return nullptr;
  }
  return l;
}

static bool span_to(span s, char *out, size_t cap) {
  if (s.n >= cap) return false;
  memcpy(out, s.p, s.n);
  out[s.n] = '\0';
  return true;
}

// Looks at commit k of level l once: did it make the page by a recorded
// rename? Then blames the old title at the commit's parent.
static void look_below(blame_run *run, level *l, size_t k, int depth) {
  l->state[k] = 1;
  const blame_commit &c = l->b.commits[k];
  if (c.has_previous || c.boundary || depth >= MAX_RENAME_DEPTH) return;
  char hash[65], path[WIKIDB_REPO_PATH_CAP];
  if (!span_to(c.hash, hash, sizeof hash) || !span_to(c.filename, path, sizeof path)) return;
  span title;
  if (!page_name_of(c.filename, &run->scratch, &title)) return;
  strbuf new_title = {}, old_title = {};
  strbuf_append(&new_title, title.p, title.n);
  // The commit's message, for its rename lines.
  const char *starts[] = {hash, nullptr};
  git_log_query q = {starts, 0, 1, nullptr, nullptr, nullptr, path, false, false};
  git_output msg;
  log_records recs = {};
  page_path to, from;
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  bool renamed = new_title.data && git_log_page(run->root, &q, &msg) == 0 &&
                 parse_log_z(msg.out, msg.out_len, &recs) && recs.n == 1 &&
                 find_rename_to(recs.recs[0].body, new_title.data, new_title.len, &old_title) &&
                 page_paths(run->root, new_title.data, &to) &&
                 page_paths(run->root, old_title.data, &from) &&
                 renamed_here(run->root, hash, old_title.data, to);
  log_records_release(&recs);
  git_output_release(&msg);
  restore_error(saved);
  if (renamed) {
    char parent[80], from_blob[WIKIDB_REPO_PATH_CAP + 80], to_blob[WIKIDB_REPO_PATH_CAP + 80];
    snprintf(parent, sizeof parent, "%s^", hash);
    snprintf(from_blob, sizeof from_blob, "%s^:%s", hash, from.repo);
    snprintf(to_blob, sizeof to_blob, "%s:%s", hash, to.repo);
    level *below = blame_at(run, parent, from.repo);
    if (below && git_diff_blobs(run->root, from_blob, to_blob, &l->diff[k]) == 0) {
      l->below[k] = below;
      l->state[k] = 2;
    } else {
      run->failed = true;
    }
  }
  strbuf_release(&new_title);
  strbuf_release(&old_title);
}

static void emit(blame_run *run, level *l, const blame_line &line, long line_no, int depth,
                 strbuf *out) {
  size_t k = line.commit;
  if (l->state[k] == 0) look_below(run, l, k, depth);
  if (run->failed) return;
  if (l->state[k] == 2) {
    level *below = l->below[k];
    long old_line = map_line_back(l->diff[k].out, l->diff[k].out_len, line.orig_line);
    for (size_t i = 0; old_line > 0 && i < below->b.n_lines; i++) {
      if (below->b.lines[i].final_line != old_line) continue;
      emit(run, below, below->b.lines[i], line_no, depth + 1, out);
      return;
    }
  }
  if (out->len > 1) strbuf_append_str(out, ",");
  append_blame_line(out, l->b, line, line_no, &run->scratch);
}

extern "C" WIKIDB_API const char *wikidb_blame_json(wikidb_handle *h, const char *title,
                                                    const char *revision) {
  clear_error();
  const unsigned long out_of_memory = out_of_memory_count();
  page_path p;
  if (!h || !title || !*title || !page_paths(h->root, title, &p)) {
    set_error("Invalid parameters to wikidb_blame_json");
    return nullptr;
  }
  if (revision && (!*revision || revision[0] == '-' || !one_line(revision))) {
    set_error("Unknown revision: %s", revision);
    return nullptr;
  }
  char commit[65];
  if (!resolve_revision(h->root, revision ? revision : "HEAD", commit)) {
    if (!revision && !*wikidb_last_error()) set_error("Page not found: %s", title);
    return nullptr;
  }
  blame_run run = {};
  run.root = h->root;
  strbuf json = {};
  level *top = blame_at(&run, commit, p.repo);
  if (!top && !run.failed) note_out_of_memory();
  if (top) {
    strbuf_append_str(&json, "[");
    for (size_t i = 0; i < top->b.n_lines && !run.failed; i++)
      emit(&run, top, top->b.lines[i], top->b.lines[i].final_line, 0, &json);
    strbuf_append_str(&json, "]");
  }
  for (size_t i = 0; i < run.n_levels; i++) level_free(run.levels[i]);
  strbuf_release(&run.scratch);
  if (run.failed) {
    strbuf_release(&json);
    if (!*wikidb_last_error()) set_error("Out of memory");
    return nullptr;
  }
  return read_finish(&h->blame_buf, &json, out_of_memory);
}
