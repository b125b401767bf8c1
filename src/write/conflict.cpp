#include "write/conflict.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "git/invocations.h"
#include "git/runner.h"
#include "reports/json.h"
#include "store/fs.h"

namespace {

struct text {
  const char *data;  // null: none
  size_t len;
};

// The three texts of each stale page, read with one cat-file: the page at
// the expected revision and at the tip.
struct page_texts {
  text base, theirs;
};

// Fills base and theirs from cat-file's output for the names asked, in order.
bool read_texts(const char *root, const write_ops *ops, const stale_page *stale, size_t n,
                const char *tip, page_texts *texts, git_output *raw) {
  const unsigned long oom = out_of_memory_count();
  strbuf input = {};
  for (size_t i = 0; i < n; i++) {
    const write_op &op = ops->items[stale[i].op];
    if (op.expected && *op.expected) {
      strbuf_append_str(&input, op.expected);
      strbuf_append(&input, ":", 1);
      strbuf_append(&input, op.repo, strlen(op.repo) + 1);
    }
    if (*stale[i].current) {
      strbuf_append_str(&input, tip);
      strbuf_append(&input, ":", 1);
      strbuf_append(&input, op.repo, strlen(op.repo) + 1);
    }
  }
  if (out_of_memory_count() != oom) {
    strbuf_release(&input);
    return false;
  }
  if (!input.data) return true;  // nothing to read
  int rc = git_cat_file_batch(root, input.data, input.len, raw);
  if (rc != 0) {
    strbuf_release(&input);
    return false;
  }
  const char *name = input.data;
  size_t pos = 0;
  for (size_t i = 0; i < n; i++) {
    const write_op &op = ops->items[stale[i].op];
    text *slots[2] = {op.expected && *op.expected ? &texts[i].base : nullptr,
                      *stale[i].current ? &texts[i].theirs : nullptr};
    for (text *slot : slots) {
      if (!slot) continue;
      const char *p = raw->out ? raw->out + pos : nullptr;
      size_t left = raw->out ? raw->out_len - pos : 0;
      const char *eol = p ? static_cast<const char *>(memchr(p, '\n', left)) : nullptr;
      size_t nl = strlen(name);
      if (!eol) break;
      if ((size_t)(eol - p) > nl && memcmp(p, name, nl) == 0 && p[nl] == ' ') {
        pos += (size_t)(eol - p) + 1;  // missing or ambiguous
      } else {
        const char *sp = static_cast<const char *>(memchr(p, ' ', (size_t)(eol - p)));
        sp = sp ? static_cast<const char *>(memchr(sp + 1, ' ', (size_t)(eol - sp - 1))) : nullptr;
        if (!sp) break;
        size_t start = (size_t)(eol + 1 - raw->out);
        unsigned long long size = strtoull(sp + 1, nullptr, 10);
        if (size > raw->out_len - start) break;
        // "HASH blob SIZE": only a blob is a page text.
        const char *type = static_cast<const char *>(memchr(p, ' ', (size_t)(sp - p)));
        if (type && sp - type == 5 && memcmp(type, " blob", 5) == 0)
          *slot = {raw->out + start, (size_t)size};
        pos = start + (size_t)size + 1;
      }
      name += nl + 1;
    }
  }
  strbuf_release(&input);
  return true;
}

const char *const s_merge_files[3] = {".git/wikidb-merge-ours", ".git/wikidb-merge-base",
                                      ".git/wikidb-merge-theirs"};

// git merge-file on the three texts, through files under .git. The merged
// text (owned by res) and whether it is clean; false when git could not
// merge them (binary texts, a failure).
bool merge_texts(const char *root, text ours, text base, text theirs, git_output *res, bool *clean) {
  const text parts[3] = {ours, base, theirs};
  bool ok = true;
  for (int i = 0; i < 3 && ok; i++)
    ok = pagefs_write(root, s_merge_files[i], parts[i].data ? parts[i].data : "", parts[i].len) ==
         PAGEFS_OK;
  int rc = -1;
  if (ok) {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    rc = git_merge_file(root, s_merge_files[0], s_merge_files[1], s_merge_files[2], res);
    restore_error(saved);
  }
  for (const char *f : s_merge_files) pagefs_remove(root, f);
  // The exit status counts the overlapping edits; 128 and above is failure.
  if (rc < 0 || rc >= 128) return false;
  *clean = rc == 0;
  return true;
}

void append_text(strbuf *json, const char *key, text t) {
  strbuf_append_str(json, key);
  if (t.data)
    strbuf_append_json_bytes(json, t.data, t.len);
  else
    strbuf_append_str(json, "null");
}

}  // namespace

bool merge_page_texts(const char *root, const char *ours, size_t ours_len, const char *base,
                      size_t base_len, const char *theirs, size_t theirs_len, git_output *res,
                      bool *clean) {
  return merge_texts(root, {ours, ours_len}, {base, base_len}, {theirs, theirs_len}, res, clean);
}

int conflict_report(wikidb_handle *h, write_ops *ops, const stale_page *stale, size_t n,
                    const char *tip, bool merge) {
  page_texts *texts = static_cast<page_texts *>(calloc(n ? n : 1, sizeof *texts));
  git_output *merged = static_cast<git_output *>(calloc(n ? n : 1, sizeof *merged));
  bool *mergeable = static_cast<bool *>(calloc(n ? n : 1, sizeof *mergeable));
  git_output raw = {};
  const unsigned long oom = out_of_memory_count();
  if (!texts || !merged || !mergeable) {
    free(texts);
    free(merged);
    free(mergeable);
    set_error("Memory allocation failed");
    return -1;
  }
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  read_texts(h->root, ops, stale, n, tip, texts, &raw);
  restore_error(saved);

  // The merges first: whether all of them are clean decides "merged".
  bool all_clean = n > 0;
  bool *have_merge = static_cast<bool *>(calloc(n ? n : 1, sizeof *have_merge));
  for (size_t i = 0; have_merge && i < n; i++) {
    const write_op &op = ops->items[stale[i].op];
    bool clean = false;
    // A page deleted meanwhile, or a delete or rename of a changed page,
    // has no text to merge with.
    if (op.kind == OP_SAVE && texts[i].theirs.data)
      have_merge[i] = merge_texts(h->root, {op.content, op.content_len}, texts[i].base,
                                  texts[i].theirs, &merged[i], &clean);
    mergeable[i] = have_merge[i] && clean;
    all_clean = all_clean && mergeable[i];
  }
  strbuf json = {};
  strbuf_append_str(&json, merge && all_clean ? "{\"merged\":true" : "{\"merged\":false");
  strbuf_append_str(&json, ",\"conflicts\":[");
  for (size_t i = 0; have_merge && i < n; i++) {
    const write_op &op = ops->items[stale[i].op];
    text ours = op.kind == OP_SAVE ? text{op.content, op.content_len} : text{nullptr, 0};
    if (i) strbuf_append(&json, ",", 1);
    strbuf_append_str(&json, "{\"page\":");
    strbuf_append_json_str(&json, op.title);
    strbuf_append_str(&json, ",\"expected\":");
    strbuf_append_json_str(&json, op.expected ? op.expected : "");
    strbuf_append_str(&json, ",\"current\":");
    strbuf_append_json_str(&json, stale[i].current);
    append_text(&json, ",\"base_text\":", texts[i].base);
    append_text(&json, ",\"ours\":", ours);
    append_text(&json, ",\"theirs\":", texts[i].theirs);
    append_text(&json, ",\"merged_text\":",
                have_merge[i] ? text{merged[i].out ? merged[i].out : "", merged[i].out_len}
                              : text{nullptr, 0});
    strbuf_append_str(&json, mergeable[i] ? ",\"clean\":true}" : ",\"clean\":false}");
  }
  strbuf_append_str(&json, "]}");
  if (!have_merge) note_out_of_memory();
  free(have_merge);
  int rc = 0;
  if (merge && all_clean) {
    // Each merged text replaces the op's, now expecting the page as it is.
    for (size_t i = 0; i < n && rc == 0; i++) {
      write_op &op = ops->items[stale[i].op];
      char *text_copy = static_cast<char *>(malloc(merged[i].out_len + 1));
      char *expected_copy = static_cast<char *>(malloc(strlen(stale[i].current) + 1));
      if (!text_copy || !expected_copy) {
        free(text_copy);
        free(expected_copy);
        note_out_of_memory();
        rc = -1;
        break;
      }
      if (merged[i].out_len) memcpy(text_copy, merged[i].out, merged[i].out_len);
      text_copy[merged[i].out_len] = '\0';
      strcpy(expected_copy, stale[i].current);
      free(op.content);
      free(op.expected);
      op.content = text_copy;
      op.content_len = merged[i].out_len;
      op.expected = expected_copy;
      op.blob[0] = '\0';
    }
    if (rc == 0) rc = 1;
  }
  for (size_t i = 0; i < n; i++) git_output_release(&merged[i]);
  git_output_release(&raw);
  free(texts);
  free(merged);
  free(mergeable);
  if (out_of_memory_count() != oom) {
    strbuf_release(&json);
    replace_slot(&h->conflict_buf, nullptr);
    set_error("Memory allocation failed");
    return -1;
  }
  replace_slot(&h->conflict_buf, strbuf_detach(&json));
  return rc;
}
