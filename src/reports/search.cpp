// Full-text search of the pages with git grep, and of their titles.
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"
#include "reports/fold.h"
#include "reports/json.h"
#include "reports/parse_log.h"
#include "reports/reads.h"

enum { DEFAULT_HITS = 100, MAX_HITS = 10000, MAX_TERMS = 32, HIT_TEXT_CAP = 500 };

// A regular expression given by the caller gets a locale in which git's
// character classes and letter case know UTF-8; fixed strings need none,
// they are folded here.
static const char *const s_utf8_env[] = {"LC_ALL=C.UTF-8", nullptr};
static const char *const s_c_env[] = {"LC_ALL=C", nullptr};

namespace {
struct terms {
  strbuf words[MAX_TERMS] = {};     // as typed
  strbuf patterns[MAX_TERMS] = {};  // as given to git
  const char *argv[MAX_TERMS + 1] = {};
  size_t n = 0;
  ~terms() {
    for (size_t i = 0; i < MAX_TERMS; i++) {
      strbuf_release(&words[i]);
      strbuf_release(&patterns[i]);
    }
  }
};
}  // namespace

static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Splits the query at white space; false with a message.
static bool split_terms(const char *query, terms *t) {
  t->n = 0;
  const char *p = query;
  while (*p) {
    while (is_space(*p)) p++;
    if (!*p) break;
    const char *start = p;
    while (*p && !is_space(*p)) p++;
    if (t->n == MAX_TERMS) {
      set_error("Too many search words (at most %d)", MAX_TERMS);
      return false;
    }
    if (strbuf_append(&t->words[t->n], start, (size_t)(p - start)) != 0) {
      set_error("Out of memory");
      return false;
    }
    t->n++;
  }
  if (t->n == 0) {
    set_error("Empty search query");
    return false;
  }
  return true;
}

static bool is_word_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c >= 0x80;
}

// Where the folded needle occurs in the folded hay (as a word when asked),
// or -1.
static long find_in(const strbuf &hay, const strbuf &needle, bool words) {
  if (!needle.len || needle.len > hay.len) return -1;
  for (size_t i = 0; i + needle.len <= hay.len; i++) {
    if (memcmp(hay.data + i, needle.data, needle.len) != 0) continue;
    if (words && ((i > 0 && is_word_byte((unsigned char)hay.data[i - 1])) ||
                  (i + needle.len < hay.len && is_word_byte((unsigned char)hay.data[i + needle.len]))))
      continue;
    return (long)i;
  }
  return -1;
}

// Title hits: every word in the page name. Appends them until the limit.
static bool title_hits(const char *root, const terms &t, bool words, bool exact, int limit,
                       int *count, bool *truncated, strbuf *json) {
  char *out = nullptr;
  if (git_ls_pages(root, &out) != 0) {
    free(out);
    return false;
  }
  strbuf folded_words[MAX_TERMS] = {};
  for (size_t i = 0; i < t.n; i++) {
    if (exact)
      strbuf_append(&folded_words[i], t.words[i].data, t.words[i].len);
    else
      fold_text(t.words[i].data, t.words[i].len, &folded_words[i]);
  }
  strbuf scratch = {}, folded = {};
  span line, name;
  for (const char *p = out; next_line(&p, &line);) {
    if (!page_name_of(line, &scratch, &name)) continue;
    folded.len = 0;
    if (exact)
      strbuf_append(&folded, name.p, name.n);
    else
      fold_text(name.p, name.n, &folded);
    long first = -1;
    bool all = true;
    for (size_t i = 0; i < t.n && all; i++) {
      long at = find_in(folded, folded_words[i], words);
      if (at < 0) all = false;
      if (i == 0) first = at;
    }
    if (!all) continue;
    if (*count == limit) {
      *truncated = true;
      break;
    }
    // Folding keeps the length of most letters; the column is a guide.
    grep_hit hit = {line, name, 0, first + 1};
    if (*count) strbuf_append_str(json, ",");
    append_hit_json(json, &scratch, hit, HIT_TEXT_CAP);
    (*count)++;
  }
  strbuf_release(&scratch);
  strbuf_release(&folded);
  for (size_t i = 0; i < t.n; i++) strbuf_release(&folded_words[i]);
  free(out);
  return true;
}

// git grep exits 1 when nothing matched: that is an empty answer, unless
// it also complained.
static bool grep_ok(int rc, const git_output &res) {
  if (rc == 0) return true;
  if (rc == 1 && !res.err) {
    clear_error();
    return true;
  }
  return false;
}

extern "C" WIKIDB_API const char *wikidb_search_json(wikidb_handle *h, const char *query, int limit,
                                                     int flags) {
  clear_error();
  const unsigned long out_of_memory = out_of_memory_count();
  if (!h) {
    set_error("Invalid handle");
    return nullptr;
  }
  if (!query) {
    set_error("Empty search query");
    return nullptr;
  }
  terms t;
  if (!split_terms(query, &t)) return nullptr;
  const bool regex = flags & WIKIDB_SEARCH_REGEX, exact = flags & WIKIDB_SEARCH_CASE,
             words = flags & WIKIDB_SEARCH_WORDS;
  const int n = limit <= 0 ? DEFAULT_HITS : limit > MAX_HITS ? MAX_HITS : limit;
  // Literal words with letters beyond ASCII are searched as patterns that
  // spell out each letter's cases.
  bool use_patterns = false;
  if (!regex && !exact)
    for (size_t i = 0; i < t.n; i++) use_patterns = use_patterns || needs_pattern(t.words[i].data);
  for (size_t i = 0; i < t.n; i++) {
    if (use_patterns)
      term_pattern(t.words[i].data, &t.patterns[i]);
    else
      strbuf_append(&t.patterns[i], t.words[i].data, t.words[i].len);
    t.argv[i] = t.patterns[i].data;
  }
  t.argv[t.n] = nullptr;
  if (out_of_memory_count() != out_of_memory) {
    set_error("Out of memory");
    return nullptr;
  }
  strbuf json = {};
  strbuf_append_str(&json, "{\"hits\":[");
  int count = 0;
  bool truncated = false;
  if ((flags & WIKIDB_SEARCH_TITLES) && !title_hits(h->root, t, words, exact, n, &count, &truncated, &json)) {
    strbuf_release(&json);
    return nullptr;
  }
  if (!truncated) {
    // First the pages holding every word, then the lines of as few of them
    // as the limit needs: git never prints more than that.
    git_grep_query q = {t.argv, regex || use_patterns, !exact, words, true, 0, nullptr,
                        regex ? s_utf8_env : s_c_env};
    git_output files;
    int rc = git_grep(h->root, &q, &files);
    if (!grep_ok(rc, files)) {
      git_output_release(&files);
      strbuf_release(&json);
      return nullptr;
    }
    const size_t want = (size_t)(n - count);
    const char **paths = static_cast<const char **>(calloc(want + 1, sizeof *paths));
    size_t n_paths = 0;
    const char *p = files.out, *end = files.out + files.out_len;
    span f, name;
    strbuf scratch_name = {};
    while (paths && next_z_field(&p, end, &f)) {
      if (f.n == 0 || !page_name_of(f, &scratch_name, &name)) continue;
      if (n_paths == want) {
        truncated = true;
        break;
      }
      paths[n_paths++] = f.p;  // each ends at its 0 byte
    }
    strbuf_release(&scratch_name);
    if (!paths) note_out_of_memory();
    if (n_paths) {
      git_output lines;
      q.files_only = false;
      q.max_per_file = (long)want + 1;
      q.paths = paths;
      rc = git_grep(h->root, &q, &lines);
      if (!grep_ok(rc, lines)) {
        git_output_release(&lines);
        git_output_release(&files);
        free(paths);
        strbuf_release(&json);
        return nullptr;
      }
      strbuf scratch = {};
      grep_hit hit;
      const char *lp = lines.out, *lend = lines.out + lines.out_len;
      while (next_grep_hit(&lp, lend, &hit)) {
        if (count == n) {
          truncated = true;
          break;
        }
        const size_t before = json.len;  // where this hit starts, should it be no page
        if (count) strbuf_append_str(&json, ",");
        if (append_hit_json(&json, &scratch, hit, HIT_TEXT_CAP))
          count++;
        else
          json.len = before, json.data[before] = '\0';
      }
      strbuf_release(&scratch);
      git_output_release(&lines);
    }
    free(paths);
    git_output_release(&files);
  }
  strbuf_append_str(&json, truncated ? "],\"truncated\":true}" : "],\"truncated\":false}");
  return read_finish(&h->search_buf, &json, out_of_memory);
}
