#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/envelope.h"
#include "reports/history.h"
#include "reports/parse.h"
#include "store/handle.h"
#include "store/fs.h"
#include "store/paths.h"

// One "cat-file -s" per commit: the slow way, kept for when the batched
// answer cannot be read.
void history_sizes_one_by_one(const char *root, const log_entry *e, size_t n, const char *path,
                              int64_t *sizes) {
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  strbuf object = {};
  for (size_t i = 0; i < n; i++) {
    object.len = 0;
    char *out = nullptr;
    sizes[i] = 0;
    if (strbuf_append(&object, e[i].hash.p, e[i].hash.n) != 0 || strbuf_append(&object, ":", 1) != 0 ||
        strbuf_append_str(&object, path) != 0)
      continue;
    if (git_cat_file_size(root, object.data, &out) == 0 && out) sizes[i] = parse_size(out);
    free(out);
  }
  strbuf_release(&object);
  restore_error(saved);
}

// Every size from one "cat-file --batch-check" process.
static void history_sizes(const char *root, const log_entry *e, size_t n, const char *path,
                          int64_t *sizes) {
  strbuf input = {};
  char *out = nullptr;
  bool ok = false;
  if (batch_size_input(e, n, path, &input)) {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    ok = git_cat_file_sizes(root, input.data, input.len, &out) == 0 &&
         parse_batch_sizes(out, e, n, path, sizes);
    restore_error(saved);
  }
  free(out);
  strbuf_release(&input);
  if (!ok) history_sizes_one_by_one(root, e, n, path, sizes);
}

// Sizes by the object ids the log named: one "cat-file --batch-check" for
// the ids, and "HASH:PATH" only where the log named none.
static void history_sizes_by_id(const char *root, const log_entry *e, const span *blobs, size_t n,
                                const char *path, int64_t *sizes) {
  strbuf input = {};
  char *out = nullptr;
  size_t asked = 0;
  for (size_t i = 0; i < n; i++) asked += null_object_id(blobs[i]) ? 0 : 1;
  bool ok = asked == 0;
  if (!ok && batch_blob_input(e, blobs, n, path, &input)) {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    // The answers fill the front of sizes, then move to their entries.
    ok = git_cat_file_sizes(root, input.data, input.len, &out) == 0 &&
         parse_batch_answers(out, input.data, asked, sizes);
    restore_error(saved);
  }
  if (ok) {
    for (size_t i = n, j = asked; i-- > 0;) sizes[i] = null_object_id(blobs[i]) ? 0 : sizes[--j];
  }
  free(out);
  strbuf_release(&input);
  if (!ok) history_sizes_one_by_one(root, e, n, path, sizes);
}

// The log as it was, then every size by "HASH:PATH".
static void page_history_by_path(const char *root, const char *path, strbuf *json) {
  char *out = nullptr;
  if (git_log_history(root, path, &out) != 0) {
    free(out);
    out = nullptr;
  }
  // The log stays beside the JSON made from it: give back its slack.
  if (out) {
    char *fit = static_cast<char *>(realloc(out, strlen(out) + 1));
    if (fit) out = fit;
  }
  int64_t *sizes = nullptr;
  size_t n = 0;
  if (out) {
    log_entry *entries = nullptr;
    n = parse_history_log(out, &entries);
    if (n) {
      sizes = static_cast<int64_t *>(calloc(n, sizeof *sizes));
      if (sizes)
        history_sizes(root, entries, n, path, sizes);
      else
        note_out_of_memory();
    }
    free(entries);
  }
  history_json_from_log(out, sizes, n, json);
  free(sizes);
  free(out);
}

// The log with each commit's diff, whose entries name the page's objects.
static void page_history_by_id(const char *root, const char *path, strbuf *json) {
  char *out = nullptr;
  size_t len = 0;
  if (git_log_history_raw(root, path, &out, &len) != 0) {
    free(out);
    out = nullptr;
    len = 0;
  }
  log_entry *entries = nullptr;
  span *blobs = nullptr;
  const size_t n = parse_history_raw(out, len, path, &entries, &blobs);
  int64_t *sizes = nullptr;
  if (n) {
    sizes = static_cast<int64_t *>(calloc(n, sizeof *sizes));
    if (sizes)
      history_sizes_by_id(root, entries, blobs, n, path, sizes);
    else
      note_out_of_memory();
  }
  history_json(entries, n, sizes, json);
  free(sizes);
  free(blobs);
  free(entries);
  free(out);
}

void page_history_json(const char *root, const char *path, history_sizes_way way, strbuf *json) {
  if (way == SIZES_BY_ID)
    page_history_by_id(root, path, json);
  else
    page_history_by_path(root, path, json);
}

history_sizes_way history_sizes_way_for(const char *root) {
  // By path, each size resolves the page through the commit's trees: in a
  // pack through their delta chains, at a cost that grows with the pages
  // (about 80 ms a revision at 10,000 pages), while the log has just read
  // those trees and its diff names the page's object for nothing. With a
  // few pages, or loose objects only, the log's diff reads each tree again
  // and costs more than it saves. The index holds about 80 bytes a page.
  char path[1200];
  int n = snprintf(path, sizeof path, "%s/.git/index", root);
  int64_t index_bytes = 0;
  if (n < 0 || (size_t)n >= sizeof path || !fs_file_size(path, &index_bytes) ||
      index_bytes < HISTORY_BY_ID_INDEX_BYTES)
    return SIZES_BY_PATH;
  n = snprintf(path, sizeof path, "%s/.git/objects/pack", root);
  const bool packed = n > 0 && (size_t)n < sizeof path && fs_dir_has_suffix(path, ".pack");
  return packed ? SIZES_BY_ID : SIZES_BY_PATH;
}

extern "C" WIKIDB_API const char *wikidb_get_history_json(wikidb_handle *h, const char *title) {
  unsigned long out_of_memory;
  if (!report_begin(h, &out_of_memory)) return g_empty_array;
  strbuf json = {};
  if (!title || !*title) {
    // The whole wiki: every commit, no sizes.
    char *out = nullptr;
    if (git_log_history(h->root, nullptr, &out) != 0) {
      free(out);
      out = nullptr;
    }
    history_json_from_log(out, nullptr, 0, &json);
    free(out);
    return report_finish(&h->history_buf, &json, out_of_memory);
  }
  page_path p;
  // A title that names no possible page has no history.
  if (!page_paths(h->root, title, &p)) {
    strbuf_append(&json, "[]", 2);
    return report_finish(&h->history_buf, &json, out_of_memory);
  }
  page_history_json(h->root, p.repo, history_sizes_way_for(h->root), &json);
  return report_finish(&h->history_buf, &json, out_of_memory);
}
