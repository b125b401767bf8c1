// The paged histories: one page's (following its recorded renames) and the
// whole wiki's, and recent changes.
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/cursor.h"
#include "reports/json.h"
#include "reports/parse_log.h"
#include "reports/reads.h"
#include "store/paths.h"

enum { DEFAULT_PAGE = 50, MAX_PAGE = 10000, MAX_SEGMENTS = 1000 };

namespace {

struct query {
  const char *author, *since, *until;
  char since_git[40], until_git[40];
};

struct segment {
  char start[CURSOR_HASH_CAP];
  bool parents;
  long skip;
  // The commit the walk goes on from, when known (see cursor.h): the walk
  // then starts there, and skip only counts.
  char next[CURSOR_HASH_CAP];
  strbuf title;
  page_path path;
  // A merge lies behind start: the walk lists only the merges where the
  // page changed on both sides.
  bool merges;
};

}  // namespace

// Checks the filters; false with a message for a value git would misread.
static bool read_filters(const char *author, const char *since, const char *until, query *q) {
  *q = {};
  if (author && *author) {
    if (!one_line(author)) {
      set_error("Invalid author filter");
      return false;
    }
    q->author = author;
  }
  int64_t t;
  if (since && *since) {
    if (!parse_date_filter(since, &t)) {
      set_error("Invalid date: %s", since);
      return false;
    }
    git_date_of(t, q->since_git);
    q->since = q->since_git;
  }
  if (until && *until) {
    if (!parse_date_filter(until, &t)) {
      set_error("Invalid date: %s", until);
      return false;
    }
    git_date_of(t, q->until_git);
    q->until = q->until_git;
  }
  return true;
}

static int page_limit(int limit) { return limit <= 0 ? DEFAULT_PAGE : limit > MAX_PAGE ? MAX_PAGE : limit; }

// Runs one log; false with git's message (never its output as content).
static bool run_log(const char *root, const segment &s, const query &q, long count, bool whole,
                    bool filtered, const char *stop, git_output *res, log_records *recs) {
  char start[CURSOR_HASH_CAP + 3], exclude[CURSOR_HASH_CAP + 4];
  const bool resume = s.next[0] && !filtered;
  snprintf(start, sizeof start, "%s%s", resume ? s.next : s.start, !resume && s.parents ? "^@" : "");
  const char *starts[3] = {start, nullptr, nullptr};
  if (stop) {
    snprintf(exclude, sizeof exclude, "^%s^@", stop);
    starts[1] = exclude;
  }
  git_log_query lq = {starts, resume ? 0 : s.skip, count, filtered ? q.author : nullptr,
                      filtered ? q.since : nullptr, filtered ? q.until : nullptr,
                      whole ? nullptr : s.path.repo, !filtered, s.merges};
  if (git_log_page(root, &lq, res) != 0) return false;
  if (!parse_log_z(res->out, res->out_len, recs)) {
    log_records_release(recs);
    set_error("Out of memory");
    return false;
  }
  return true;
}

// The recorded rename that made the segment's page out of another: sets
// old_title and returns true when record r is one.
static bool rename_of(const char *root, const log_record &r, const segment &s, strbuf *old_title) {
  if (!find_rename_to(r.body, s.title.data, s.title.len, old_title)) return false;
  if (r.hash.n >= CURSOR_HASH_CAP) return false;
  char hash[CURSOR_HASH_CAP];
  memcpy(hash, r.hash.p, r.hash.n);
  hash[r.hash.n] = '\0';
  return renamed_here(root, hash, old_title->data, s.path);
}

// With filters the rename commit itself may be filtered out: find the
// segment's newest recorded rename in a walk of its own.
static bool find_boundary(const char *root, const segment &s, char boundary[CURSOR_HASH_CAP],
                          strbuf *old_title, bool *found) {
  *found = false;
  segment whole = s;
  whole.skip = 0;
  query none = {};
  git_output res;
  log_records recs = {};
  // Every commit of the segment's path is walked, but only its messages are
  // looked at, and only until the first rename.
  if (!run_log(root, whole, none, 1000000000L, false, false, nullptr, &res, &recs)) {
    git_output_release(&res);
    return false;
  }
  for (size_t i = 0; i < recs.n && !*found; i++) {
    if (!rename_of(root, recs.recs[i], s, old_title)) continue;
    memcpy(boundary, recs.recs[i].hash.p, recs.recs[i].hash.n);
    boundary[recs.recs[i].hash.n] = '\0';
    *found = true;
  }
  log_records_release(&recs);
  git_output_release(&res);
  return true;
}

// The size of each record's page, read by object: the page's object in
// the commit comes with the log (--raw); a commit that removed the page
// has none and size 0. Falls back to asking by "COMMIT:PATH" when the log
// named no object. False with a message when git could not answer.
static bool sizes_of(const char *root, const log_records &all, size_t n, const char *path,
                     int64_t *sizes) {
  strbuf input = {};
  for (size_t i = 0; i < n; i++) {
    sizes[i] = -1;
    const log_record &r = all.recs[i];
    span blob = {nullptr, 0};
    for (size_t c = 0; c < r.n_changes; c++)
      if (all.changes[r.first_change + c].blob.n) blob = all.changes[r.first_change + c].blob;
    bool zero = blob.n > 0;
    for (size_t k = 0; k < blob.n && zero; k++) zero = blob.p[k] == '0';
    if (zero) {
      sizes[i] = 0;
      continue;
    }
    if (blob.n) {
      strbuf_append(&input, blob.p, blob.n);
    } else {
      strbuf_append(&input, r.hash.p, r.hash.n);
      strbuf_append(&input, ":", 1);
      strbuf_append(&input, path, strlen(path));
    }
    strbuf_append(&input, "", 1);
  }
  char *out = nullptr;
  bool ok = true;
  if (input.len && git_cat_file_sizes(root, input.data, input.len, &out) == 0) {
    // One line per question, in order: the size, or "NAME missing".
    const char *p = out ? out : "";
    for (size_t i = 0; i < n && ok; i++) {
      if (sizes[i] >= 0) continue;
      const char *digits = p;
      while (*p >= '0' && *p <= '9') p++;
      if (p > digits && *p == '\n') {
        sizes[i] = parse_size(digits);
        p++;
        continue;
      }
      // A page missing where the log found it: say so rather than guess.
      const char *lf = strchr(p, '\n');
      if (lf && lf - p > 8 && memcmp(lf - 8, " missing", 8) == 0) {
        sizes[i] = 0;
        p = lf + 1;
        continue;
      }
      ok = false;
      set_error("Unexpected output from git cat-file");
    }
  } else if (input.len) {
    ok = false;
    if (!input.data) set_error("Out of memory");
  }
  for (size_t i = 0; i < n; i++)
    if (sizes[i] < 0) sizes[i] = 0;
  free(out);
  strbuf_release(&input);
  return ok;
}

// Where an unfiltered walk goes on after the records it printed (with
// their parents in the path's own history): when exactly one commit is
// still pending, every later record descends from it alone and a walk from
// it gives them in the same order. Empty when there is no such commit (or
// the walk began mid-way, its earlier records unknown).
static void next_commit(const segment &s, bool filtered, const log_record *recs, size_t take,
                        char out[CURSOR_HASH_CAP]) {
  out[0] = '\0';
  // A walk that began mid-way, or from several commits, gives no answer.
  if (filtered || (!s.next[0] && (s.skip != 0 || s.parents)) || take == 0) return;
  enum { PENDING_CAP = 8 };
  span pending[PENDING_CAP];
  size_t n = 0;
  if (s.next[0]) pending[n++] = {s.next, strlen(s.next)};
  for (size_t i = 0; i < take; i++) {
    const span h = recs[i].hash;
    for (size_t k = 0; k < n; k++)
      if (pending[k].n == h.n && memcmp(pending[k].p, h.p, h.n) == 0) pending[k--] = pending[--n];
    const char *p = recs[i].parents.p, *end = p + recs[i].parents.n;
    while (p < end) {
      const char *sp = static_cast<const char *>(memchr(p, ' ', (size_t)(end - p)));
      span parent = {p, (size_t)((sp ? sp : end) - p)};
      p = sp ? sp + 1 : end;
      if (parent.n == 0) continue;
      bool known = false;
      for (size_t k = 0; k < n && !known; k++)
        known = pending[k].n == parent.n && memcmp(pending[k].p, parent.p, parent.n) == 0;
      for (size_t j = 0; j <= i && !known; j++)
        known = recs[j].hash.n == parent.n && memcmp(recs[j].hash.p, parent.p, parent.n) == 0;
      if (known) continue;
      if (n == PENDING_CAP) return;
      pending[n++] = parent;
    }
  }
  if (n != 1 || pending[0].n >= CURSOR_HASH_CAP) return;
  memcpy(out, pending[0].p, pending[0].n);
  out[pending[0].n] = '\0';
}

static void append_page_entry(strbuf *out, const log_record &r, int64_t size, const strbuf &title,
                              const strbuf *renamed_from) {
  append_entry_head(out, r);
  char buf[48];
  int k = snprintf(buf, sizeof buf, ",\"size\":%" PRId64 ",\"page\":", size);
  strbuf_append(out, buf, (size_t)k);
  strbuf_append_json_bytes(out, title.data, title.len);
  if (renamed_from) {
    strbuf_append_str(out, ",\"renamed_from\":");
    strbuf_append_json_bytes(out, renamed_from->data, renamed_from->len);
  }
  strbuf_append_str(out, "}");
}

// Replaces "the parents of start" by its one parent, when it has exactly one.
static void only_parent(const char *root, segment *s) {
  git_output res;
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  if (git_commit_parents(root, s->start, &res) == 0) {
    // "COMMIT PARENT\n"
    const char *p = res.out;
    size_t n = res.out_len;
    while (n && (p[n - 1] == '\n' || p[n - 1] == '\r')) n--;
    const char *sp = p ? static_cast<const char *>(memchr(p, ' ', n)) : nullptr;
    if (sp && !memchr(sp + 1, ' ', (size_t)(p + n - sp - 1))) {
      size_t len = (size_t)(p + n - sp - 1);
      if (len == 40 || len == 64) {
        memcpy(s->start, sp + 1, len);
        s->start[len] = '\0';
        s->parents = false;
      }
    }
  }
  git_output_release(&res);
  restore_error(saved);
}

static bool set_segment_title(const char *root, segment *s, const char *title, size_t len) {
  s->title.len = 0;
  if (strbuf_append(&s->title, title, len) != 0) return false;
  for (size_t i = 0; i < s->title.len; i++)
    if (s->title.data[i] == '\\') s->title.data[i] = '/';
  return page_paths(root, s->title.data, &s->path);
}

static void append_next(strbuf *json, const page_cursor *next) {
  strbuf_append_str(json, "],\"next\":");
  if (!next) {
    strbuf_append_str(json, "null}");
    return;
  }
  strbuf text = {};
  if (cursor_format(next, &text)) strbuf_append_json_bytes(json, text.data, text.len);
  else note_out_of_memory();
  strbuf_release(&text);
  strbuf_append_str(json, "}");
}

// One page's history from segment s on.
static bool page_history(const char *root, segment *s, const query &q, bool filtered, int limit,
                         bool follow, uint32_t check, bool first_call, const char *title,
                         strbuf *json) {
  strbuf_append_str(json, "{\"entries\":[");
  int count = 0;
  page_cursor next = {};
  bool has_next = false;
  strbuf old_title = {};
  bool ok = true;
  for (int segments = 0; ok && segments < MAX_SEGMENTS; segments++) {
    char boundary[CURSOR_HASH_CAP] = "";
    bool bounded = false;
    if (follow && filtered) {
      if (!find_boundary(root, *s, boundary, &old_title, &bounded)) {
        ok = false;
        break;
      }
    }
    const long want = limit - count + 1;
    git_output res;
    log_records recs = {};
    if (!run_log(root, *s, q, want, false, filtered, bounded ? boundary : nullptr, &res, &recs)) {
      git_output_release(&res);
      ok = false;
      break;
    }
    // How many records this page takes, and whether the last is a rename
    // that the walk follows.
    size_t take = 0;
    bool switch_segment = false;
    bool rename_in_page = false;
    for (; take < recs.n; take++) {
      if (count + (int)take == limit) {
        has_next = true;
        next.page = true;
        memcpy(next.hash, s->start, sizeof next.hash);
        next.parents = s->parents;
        next.skip = s->skip + (long)take;
        next_commit(*s, filtered, recs.recs, take, next.next);
        break;
      }
      const log_record &r = recs.recs[take];
      bool is_rename = false;
      if (follow) {
        if (filtered)
          is_rename = bounded && r.hash.n == strlen(boundary) && memcmp(r.hash.p, boundary, r.hash.n) == 0;
        else
          is_rename = rename_of(root, r, *s, &old_title);
      }
      if (is_rename) {
        take++;
        rename_in_page = true;
        switch_segment = true;
        break;
      }
    }
    // A filtered walk may leave out the rename commit: the segment ends
    // where its walk ends, and the old title's walk starts below it.
    if (follow && filtered && bounded && !has_next && take == recs.n && !switch_segment)
      switch_segment = true;
    int64_t *sizes = take ? static_cast<int64_t *>(calloc(take, sizeof *sizes)) : nullptr;
    if (take && !sizes) {
      note_out_of_memory();
      ok = false;
    } else if (!sizes_of(root, recs, take, s->path.repo, sizes)) {
      ok = false;
    }
    for (size_t i = 0; i < take; i++) {
      if (count) strbuf_append_str(json, ",");
      bool last_rename = rename_in_page && i + 1 == take;
      append_page_entry(json, recs.recs[i], sizes ? sizes[i] : 0, s->title,
                        last_rename ? &old_title : nullptr);
      count++;
    }
    free(sizes);
    const bool ended = !has_next && !switch_segment && (long)recs.n < want;
    char from[CURSOR_HASH_CAP] = "";
    if (switch_segment) {
      if (bounded) {
        memcpy(from, boundary, sizeof from);
      } else {
        const log_record &r = recs.recs[take - 1];
        memcpy(from, r.hash.p, r.hash.n);
        from[r.hash.n] = '\0';
      }
    }
    log_records_release(&recs);
    git_output_release(&res);
    if (!ok || has_next || (ended && !switch_segment)) break;
    if (!switch_segment) break;
    // The old title's history, from the rename commit's parents: from its
    // one parent itself when it has one, so that later pages can resume.
    memcpy(s->start, from, sizeof s->start);
    s->parents = true;
    s->skip = 0;
    s->next[0] = '\0';
    only_parent(root, s);
    if (!set_segment_title(root, s, old_title.data, old_title.len)) break;
    if (count == limit) {
      // Whether anything remains is left to the next call: an empty last
      // page is cheaper than a walk here.
      has_next = true;
      next.page = true;
      memcpy(next.hash, s->start, sizeof next.hash);
      next.parents = s->parents;
      next.skip = 0;
      break;
    }
  }
  strbuf_release(&old_title);
  if (!ok) return false;
  if (first_call && count == 0) {
    // Is there such a page at all?
    segment probe = *s;
    git_output res;
    log_records recs = {};
    query none = {};
    bool any = run_log(root, probe, none, 1, false, false, nullptr, &res, &recs) && recs.n > 0;
    log_records_release(&recs);
    git_output_release(&res);
    if (!any) {
      if (!*wikidb_last_error()) set_error("Page not found: %s", title);
      return false;
    }
  }
  if (has_next) {
    next.check = check;
    next.title = s->title;
  }
  append_next(json, has_next ? &next : nullptr);
  return true;
}

static bool wiki_history(const char *root, segment *s, const query &q, int limit, uint32_t check,
                         strbuf *json) {
  git_output res;
  log_records recs = {};
  const bool filtered = q.author || q.since || q.until;
  if (!run_log(root, *s, q, limit + 1, true, filtered, nullptr, &res, &recs)) {
    git_output_release(&res);
    return false;
  }
  strbuf_append_str(json, "{\"entries\":[");
  size_t take = recs.n > (size_t)limit ? (size_t)limit : recs.n;
  wiki_entries_json(recs, 0, take, json);
  page_cursor next = {};
  if (recs.n > (size_t)limit) {
    memcpy(next.hash, s->start, sizeof next.hash);
    next.parents = s->parents;
    next.skip = s->skip + limit;
    next.check = check;
    next_commit(*s, filtered, recs.recs, take, next.next);
  }
  append_next(json, recs.n > (size_t)limit ? &next : nullptr);
  log_records_release(&recs);
  git_output_release(&res);
  return true;
}

// Whether a merge lies behind the segment's start, asked of git once per
// start commit and handle: the answer depends on that commit alone, so every
// page of one history walks the same way.
static bool merges_behind(wikidb_handle *h, segment *s) {
  if (strcmp(h->merges_from, s->start) == 0) {
    s->merges = h->merges_behind;
    return true;
  }
  git_output res;
  if (git_find_merge(h->root, s->start, &res) != 0) {
    git_output_release(&res);
    return false;
  }
  s->merges = res.out_len > 0;
  git_output_release(&res);
  snprintf(h->merges_from, sizeof h->merges_from, "%s", s->start);
  h->merges_behind = s->merges;
  return true;
}

static const char *history_read(wikidb_handle *h, char **slot, const char *kind, const char *title,
                                const char *cursor, int limit, const char *author,
                                const char *since, const char *until, int flags) {
  clear_error();
  const unsigned long out_of_memory = out_of_memory_count();
  if (!h) {
    set_error("Invalid handle");
    return nullptr;
  }
  const bool whole = !title || !*title;
  const bool follow = !whole && (flags & WIKIDB_FOLLOW);
  query q;
  if (!read_filters(author, since, until, &q)) return nullptr;
  const bool filtered = q.author || q.since || q.until;
  const uint32_t check = query_check(kind, title, author, since, until, follow ? 1 : 0);
  segment s = {};
  const char *result = nullptr;
  strbuf json = {};
  bool ok = false;
  if (cursor && *cursor) {
    page_cursor c = {};
    bool valid = cursor_parse(cursor, &c) && c.page == !whole && c.check == check;
    if (valid) {
      memcpy(s.start, c.hash, sizeof s.start);
      s.parents = c.parents;
      s.skip = c.skip;
      memcpy(s.next, c.next, sizeof s.next);
      valid = whole || set_segment_title(h->root, &s, c.title.data, c.title.len);
    }
    strbuf_release(&c.title);
    if (!valid) {
      set_error("Invalid cursor");
      strbuf_release(&s.title);
      return nullptr;
    }
  } else {
    if (!whole && !set_segment_title(h->root, &s, title, strlen(title))) {
      set_error("Invalid title");
      strbuf_release(&s.title);
      return nullptr;
    }
    if (!head_commit(h->root, s.start)) {
      strbuf_release(&s.title);
      return nullptr;
    }
    if (!s.start[0]) {
      // No commit yet: nothing to page through.
      strbuf_release(&s.title);
      if (!whole) {
        set_error("Page not found: %s", title);
        return nullptr;
      }
      strbuf_append_str(&json, "{\"entries\":[],\"next\":null}");
      return read_finish(slot, &json, out_of_memory);
    }
  }
  const int n = page_limit(limit);
  if (!whole && !merges_behind(h, &s)) {
    strbuf_release(&s.title);
    return nullptr;
  }
  if (whole)
    ok = wiki_history(h->root, &s, q, n, check, &json);
  else
    ok = page_history(h->root, &s, q, filtered, n, follow, check, !(cursor && *cursor), title, &json);
  strbuf_release(&s.title);
  if (!ok) {
    strbuf_release(&json);
    if (!*wikidb_last_error()) set_error("Out of memory");
    return nullptr;
  }
  result = read_finish(slot, &json, out_of_memory);
  return result;
}

extern "C" WIKIDB_API const char *wikidb_history_page_json(wikidb_handle *h, const char *title,
                                                           const char *cursor, int limit,
                                                           const char *author, const char *since,
                                                           const char *until, int flags) {
  return history_read(h, h ? &h->history_page_buf : nullptr, "history", title, cursor, limit,
                      author, since, until, flags);
}

extern "C" WIKIDB_API const char *wikidb_recent_page_json(wikidb_handle *h, const char *cursor,
                                                          int limit, const char *author,
                                                          const char *since) {
  return history_read(h, h ? &h->recent_page_buf : nullptr, "recent", nullptr, cursor, limit,
                      author, since, nullptr, 0);
}
