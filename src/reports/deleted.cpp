// Pages that existed and do not now.
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/json.h"
#include "reports/parse_log.h"
#include "reports/reads.h"

// Whether the sorted list of present paths holds path (binary search).
static bool present(const span *paths, size_t n, span path) {
  size_t lo = 0, hi = n;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    size_t k = paths[mid].n < path.n ? paths[mid].n : path.n;
    int c = memcmp(paths[mid].p, path.p, k);
    if (c == 0) c = paths[mid].n < path.n ? -1 : paths[mid].n > path.n ? 1 : 0;
    if (c == 0) return true;
    if (c < 0) lo = mid + 1;
    else hi = mid;
  }
  return false;
}

void deleted_json(const log_records &recs, const span *now, size_t n_now, strbuf *out) {
  // The newest deletion of each path counts; a path is listed once.
  span *seen = nullptr;
  size_t n_seen = 0;
  strbuf scratch = {}, to = {};
  strbuf_append_str(out, "[");
  bool first = true;
  for (size_t i = 0; i < recs.n; i++) {
    const log_record &r = recs.recs[i];
    for (size_t c = 0; c < r.n_changes; c++) {
      const log_change &ch = recs.changes[r.first_change + c];
      span name;
      if (ch.status != 'D' || present(now, n_now, ch.path) || !page_name_of(ch.path, &scratch, &name))
        continue;
      bool dup = false;
      for (size_t k = 0; k < n_seen && !dup; k++)
        dup = seen[k].n == ch.path.n && memcmp(seen[k].p, ch.path.p, ch.path.n) == 0;
      if (dup) continue;
      span *more = static_cast<span *>(realloc(seen, (n_seen + 1) * sizeof *seen));
      if (!more) {
        note_out_of_memory();
        break;
      }
      seen = more;
      seen[n_seen++] = ch.path;
      // The first parent held the page's last text.
      span parent = r.parents;
      const char *sp = static_cast<const char *>(memchr(parent.p, ' ', parent.n));
      if (sp) parent.n = (size_t)(sp - parent.p);
      if (!first) strbuf_append_str(out, ",");
      first = false;
      strbuf_append_str(out, "{\"page\":");
      strbuf_append_json_bytes(out, name.p, name.n);
      strbuf_append_str(out, ",\"deleted_in\":");
      strbuf_append_json_bytes(out, r.hash.p, r.hash.n);
      strbuf_append_str(out, ",\"restore_from\":");
      strbuf_append_json_bytes(out, parent.p, parent.n);
      strbuf_append_str(out, ",\"author\":");
      strbuf_append_json_bytes(out, r.author.p, r.author.n);
      strbuf_append_str(out, ",\"date\":");
      strbuf_append_json_bytes(out, r.date.p, r.date.n);
      strbuf_append_str(out, ",\"summary\":");
      strbuf_append_json_bytes(out, r.subject.p, r.subject.n);
      if (find_rename_from(r.body, name, &to)) {
        strbuf_append_str(out, ",\"renamed_to\":");
        strbuf_append_json_bytes(out, to.data, to.len);
      }
      strbuf_append_str(out, "}");
    }
  }
  strbuf_append_str(out, "]");
  free(seen);
  strbuf_release(&scratch);
  strbuf_release(&to);
}

static int compare_spans(const void *x, const void *y) {
  const span *a = static_cast<const span *>(x), *b = static_cast<const span *>(y);
  size_t k = a->n < b->n ? a->n : b->n;
  int c = memcmp(a->p, b->p, k);
  return c ? c : a->n < b->n ? -1 : a->n > b->n ? 1 : 0;
}

extern "C" WIKIDB_API const char *wikidb_deleted_pages_json(wikidb_handle *h) {
  clear_error();
  const unsigned long out_of_memory = out_of_memory_count();
  if (!h) {
    set_error("Invalid handle");
    return nullptr;
  }
  char tip[65];
  if (!head_commit(h->root, tip)) return nullptr;
  strbuf json = {};
  if (!tip[0]) {
    strbuf_append_str(&json, "[]");
    return read_finish(&h->deleted_buf, &json, out_of_memory);
  }
  git_output tree, log;
  if (git_ls_tree_pages(h->root, tip, &tree) != 0) {
    git_output_release(&tree);
    return nullptr;
  }
  if (git_log_deletions(h->root, tip, &log) != 0) {
    git_output_release(&tree);
    git_output_release(&log);
    return nullptr;
  }
  size_t n_now = 0, cap = 0;
  span *now = nullptr;
  const char *p = tree.out, *end = tree.out + tree.out_len;
  span f;
  while (next_z_field(&p, end, &f)) {
    if (n_now == cap) {
      cap = cap ? cap * 2 : 256;
      span *more = static_cast<span *>(realloc(now, cap * sizeof *now));
      if (!more) {
        note_out_of_memory();
        break;
      }
      now = more;
    }
    now[n_now++] = f;
  }
  if (n_now) qsort(now, n_now, sizeof *now, compare_spans);
  log_records recs = {};
  if (parse_log_z(log.out, log.out_len, &recs)) deleted_json(recs, now, n_now, &json);
  log_records_release(&recs);
  free(now);
  git_output_release(&tree);
  git_output_release(&log);
  return read_finish(&h->deleted_buf, &json, out_of_memory);
}
