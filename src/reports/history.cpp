#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/envelope.h"
#include "reports/history.h"
#include "reports/parse.h"
#include "store/handle.h"
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

extern "C" WIKIDB_API const char *wikidb_get_history_json(wikidb_handle *h, const char *title) {
  clear_error();
  const unsigned long out_of_memory = out_of_memory_count();
  if (!h) {
    set_error("Invalid handle");
    return g_empty_array;
  }
  const bool whole_wiki = !title || !*title;
  page_path p;
  strbuf json = {};
  // A title that names no possible page has no history.
  if (!whole_wiki && !page_paths(h->root, title, &p)) {
    strbuf_append(&json, "[]", 2);
    return report_finish(&h->history_buf, &json, out_of_memory);
  }
  char *out = nullptr;
  if (git_log_history(h->root, whole_wiki ? nullptr : p.repo, &out) != 0) {
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
  if (out && !whole_wiki) {
    log_entry *entries = nullptr;
    n = parse_history_log(out, &entries);
    if (n) {
      sizes = static_cast<int64_t *>(calloc(n, sizeof *sizes));
      if (sizes)
        history_sizes(h->root, entries, n, p.repo, sizes);
      else
        note_out_of_memory();
    }
    free(entries);
  }
  history_json_from_log(out, sizes, n, &json);
  free(sizes);
  free(out);
  return report_finish(&h->history_buf, &json, out_of_memory);
}
