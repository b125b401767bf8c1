#include "git/invocations.h"

#include <stdio.h>
#include <stdlib.h>
#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/commit_graph.h"
#include "git/runner.h"
#include "frame/strbuf.h"

#include <stdlib.h>

int git_init(const char *root) {
  const char *args[] = {"init", nullptr};
  return run_git(root, args, nullptr);
}

void git_write_settings(const char *root) {
  static const char *const settings[][2] = {
      {"user.name", WIKIDB_DEFAULT_NAME}, {"user.email", WIKIDB_DEFAULT_EMAIL},
      {"commit.gpgsign", "false"},        {"core.autocrlf", "false"},
      {"core.quotepath", "false"},
  };
  for (const auto &s : settings) {
    const char *args[] = {"config", s[0], s[1], nullptr};
    run_git(root, args, nullptr);
  }
}

int git_add(const char *root, const char *path) {
  const char *args[] = {"add", path, nullptr};
  return run_git(root, args, nullptr);
}

int git_rm(const char *root, const char *path) {
  // Only the index: the library removes the file itself, through a walk
  // that never follows a link out of the root.
  const char *args[] = {"rm", "-f", "--cached", path, nullptr};
  return run_git(root, args, nullptr);
}

int git_commit(const char *root, const char *message, const char *author, char **out) {
  const size_t len = strlen(message);
  if (len <= GIT_MESSAGE_ARG_MAX) {
    const char *args[] = {"commit", "-m", message, "--author", author, nullptr};
    return run_git(root, args, out);
  }
  // Too long for one argument (Linux) or the whole command line (Windows):
  // git reads it from standard input instead, with the line end that -m
  // would have completed, so both routes record the same bytes.
  const bool complete = message[len - 1] == '\n';
  char *input = static_cast<char *>(malloc(len + 1));
  if (!input) {
    note_out_of_memory();
    set_error("Out of memory reading git output");
    return -1;
  }
  memcpy(input, message, len);
  if (!complete) input[len] = '\n';
  const char *args[] = {"commit", "-F", "-", "--author", author, nullptr};
  int rc = run_git_input(root, args, input, complete ? len : len + 1, out);
  free(input);
  return rc;
}

int git_staged_changes(const char *root) {
  const char *args[] = {"diff", "--cached", "--quiet", nullptr};
  return run_git(root, args, nullptr);
}

// head, then paths, then a terminator, in one block; null when out of memory.
static const char **with_paths(const char *const *head, size_t k, const char *const *paths,
                               size_t n) {
  const char **args = static_cast<const char **>(malloc((k + n + 1) * sizeof *args));
  if (!args) {
    note_out_of_memory();
    set_error("Out of memory reading git output");
    return nullptr;
  }
  for (size_t i = 0; i < k; i++) args[i] = head[i];
  for (size_t i = 0; i < n; i++) args[k + i] = paths[i];
  args[k + n] = nullptr;
  return args;
}

int git_reset_paths(const char *root, const char *const *paths, size_t n) {
  static const char *const head[] = {"reset", "-q", "--"};
  const char **args = with_paths(head, 3, paths, n);
  if (!args) return -1;
  int rc = run_git(root, args, nullptr);
  free(args);
  return rc;
}

int git_ls_tree(const char *root, const char *rev, const char *const *paths, size_t n,
                git_output *res) {
  const char *head[] = {"ls-tree", "-z", "--full-tree", rev, "--"};
  const char **args = with_paths(head, 5, paths, n);
  if (!args) return -1;
  const git_call call = {args, nullptr, 0, nullptr, true};
  int rc = run_git_call(root, &call, res);
  free(args);
  return rc;
}

int git_head_exists(const char *root) {
  const char *args[] = {"rev-parse", "-q", "--verify", "HEAD", nullptr};
  return run_git(root, args, nullptr);
}

int git_cat_blob(const char *root, const char *object, git_output *res) {
  const char *args[] = {"cat-file", "blob", object, nullptr};
  const git_call call = {args, nullptr, 0, nullptr, true};
  return run_git_call(root, &call, res);
}

int git_index_add_entry(const char *root, const char *mode, const char *hash, const char *path) {
  char info[800];
  int n = snprintf(info, sizeof info, "%s,%s,%s", mode, hash, path);
  if (n < 0 || (size_t)n >= sizeof info) {
    set_error("Invalid parameters to update-index");
    return -1;
  }
  const char *args[] = {"update-index", "--add", "--cacheinfo", info, nullptr};
  return run_git(root, args, nullptr);
}

int git_ls_tracked(const char *root, const char *path, char **out) {
  const char *args[] = {"ls-files", "--cached", "--", path, nullptr};
  return run_git(root, args, out);
}

int git_show(const char *root, const char *object, char **out) {
  const char *args[] = {"show", object, nullptr};
  return run_git(root, args, out);
}

int git_diff(const char *root, const char *from, const char *to, const char *path, char **out) {
  // A user's or repository's external diff program would replace git's
  // diff, and no setting can switch one off.
  const char *args[] = {"diff", "--no-ext-diff", from, to, "--", path, nullptr};
  return run_git(root, args, out);
}

#define WIKIDB_LOG_FIELDS "%H%x1f%an%x1f%ad%x1f%s"

// git's default walk of a path follows only a merge's parent whose version of
// the path the merge kept: after a sync merge the other side's edits of that
// path would vanish from the history. Every path-limited log here walks all
// parents; a merge then appears only where it changed the path against one.
#define WIKIDB_LOG_ALL_PARENTS "--full-history"

int git_log_history(const char *root, const char *path, char **out) {
  const char *args[] = {"log", "--format=format:" WIKIDB_LOG_FIELDS, "--date=iso",
                        WIKIDB_LOG_ALL_PARENTS, "--", path, nullptr};
  if (!path) args[3] = nullptr;
  return run_git(root, args, out);
}

int git_log_history_raw(const char *root, const char *path, char **out, size_t *out_len) {
  // Each commit's own diff names the page's object after it; without
  // rename detection that entry always carries the page's own path.
  const char *args[] = {"log", "-z", "--raw", "--no-abbrev", "--no-renames",
                        "--format=format:" WIKIDB_LOG_FIELDS, "--date=iso",
                        WIKIDB_LOG_ALL_PARENTS, "--", path, nullptr};
  // git's warnings stay apart from the output that is parsed.
  const git_call call = {args, nullptr, 0, nullptr, true};
  git_output res;
  const int rc = run_git_call(root, &call, &res);
  *out = res.out;
  *out_len = res.out_len;
  res.out = nullptr;
  git_output_release(&res);
  return rc;
}

int git_cat_file_size(const char *root, const char *object, char **out) {
  const char *args[] = {"cat-file", "-s", object, nullptr};
  return run_git(root, args, out);
}

int git_cat_file_sizes(const char *root, const char *input, size_t input_len, char **out) {
  const char *args[] = {"cat-file", "--batch-check=%(objectsize)", "--buffer", "-z", nullptr};
  return run_git_input(root, args, input, input_len, out);
}

int git_ls_pages(const char *root, char **out) {
  const char *args[] = {"ls-files", "--cached", "--others", "--exclude-standard", "pages/", nullptr};
  return run_git(root, args, out);
}

int git_log_recent(const char *root, int count, char **out) {
  char count_arg[32];
  snprintf(count_arg, sizeof count_arg, "-n%d", count);
  // Without rename detection a renamed page shows as its removal and its
  // addition, each line carrying a single path.
  const char *args[] = {"log",         count_arg, "--name-status", "--no-renames",
                        "--format=commit:" WIKIDB_LOG_FIELDS, "--date=iso", nullptr};
  return run_git(root, args, out);
}

void git_update_commit_graph(const char *root, bool fill) {
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  char max_new[48];
  snprintf(max_new, sizeof max_new, "--max-new-filters=%d", (int)GRAPH_NEW_FILTERS);
  // Only a rewrite computes the filters a layer lacks; adding a layer
  // writes the new commits alone.
  const char *args[] = {"commit-graph", "write",  "--reachable", "--changed-paths",
                        fill ? "--split=replace" : "--split", max_new, nullptr};
  run_git(root, args, nullptr);
  restore_error(saved);
}

void git_gc_auto(const char *root) {
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  // In the foreground, so that nothing outlives the call; and without the
  // commit-graph, which the library keeps itself in bounded steps (gc would
  // compute every missing filter at once).
  const char *args[] = {"-c", "gc.autoDetach=false", "-c", "gc.writeCommitGraph=false",
                        "gc", "--auto", "--quiet", nullptr};
  run_git(root, args, nullptr);
  restore_error(saved);
}

int git_cat_file_batch(const char *root, const char *input, size_t input_len, git_output *res) {
  const char *args[] = {"cat-file", "--batch", "-z", nullptr};
  const git_call call = {args, input, input_len, nullptr, true};
  return run_git_call(root, &call, res);
}

int git_hash_object(const char *root, const char *type, const char *data, size_t len, char **out) {
  // No filters: the object holds exactly the bytes given, whatever the
  // repository's attributes say about line endings.
  const char *args[] = {"hash-object", "-w", "-t", type, "--no-filters", "--stdin", nullptr};
  const git_call call = {args, data, len, nullptr, true};
  return run_git_call_out(root, &call, out);
}

int git_commit_tree(const char *root, const char *tree, const char *parent, const char *message,
                    size_t message_len, const char *const *env, char **out) {
  const char *args[] = {"commit-tree", tree, "-p", parent, nullptr};
  if (!parent) args[2] = nullptr;
  const git_call call = {args, message, message_len, env, true};
  return run_git_call_out(root, &call, out);
}

int git_update_ref_cas(const char *root, const char *new_hash, const char *old_hash,
                       const char *reason) {
  const char *args[] = {"update-ref", "-m", reason, "HEAD", new_hash, old_hash, nullptr};
  const git_call call = {args, nullptr, 0, nullptr, true};
  git_output res;
  int rc = run_git_call(root, &call, &res);
  git_output_release(&res);
  return rc;
}

int git_last_change(const char *root, const char *tip, const char *path, char **out) {
  const char *args[] = {"log", "-1", "--format=%H", "--name-status", "--no-renames", tip, "--",
                        path, nullptr};
  const git_call call = {args, nullptr, 0, nullptr, true};
  return run_git_call_out(root, &call, out);
}

int git_rev_parse_head(const char *root, char **out) {
  const char *args[] = {"rev-parse", "-q", "--verify", "HEAD^{commit}", nullptr};
  const git_call call = {args, nullptr, 0, nullptr, true};
  return run_git_call_out(root, &call, out);
}

int git_update_index_info(const char *root, const char *input, size_t input_len) {
  const char *args[] = {"update-index", "-z", "--index-info", nullptr};
  const git_call call = {args, input, input_len, nullptr, true};
  git_output res;
  int rc = run_git_call(root, &call, &res);
  git_output_release(&res);
  return rc;
}

int git_merge_file(const char *root, const char *ours, const char *base, const char *theirs,
                   git_output *res) {
  const char *args[] = {"merge-file", "-p", "-L", "ours", "-L", "base", "-L", "theirs",
                        "--",         ours, base, theirs, nullptr};
  const git_call call = {args, nullptr, 0, nullptr, true};
  return run_git_call(root, &call, res);
}

int git_unpack_objects(const char *root, const char *pack, size_t len) {
  const char *args[] = {"unpack-objects", "-q", nullptr};
  const git_call call = {args, pack, len, nullptr, true};
  git_output res;
  int rc = run_git_call(root, &call, &res);
  git_output_release(&res);
  return rc;
}

// ---- Paged reads

static int run_split(const char *root, const char *const *args, const char *const *env,
                     git_output *res) {
  const git_call call = {args, nullptr, 0, env, true};
  return run_git_call(root, &call, res);
}

int git_resolve_commit(const char *root, const char *rev, git_output *res) {
  strbuf peeled = {};
  strbuf_append_str(&peeled, rev);
  strbuf_append_str(&peeled, "^{commit}");
  const char *args[] = {"rev-parse", "--verify", "--quiet", "--end-of-options",
                        peeled.data ? peeled.data : "", nullptr};
  int rc = run_split(root, args, nullptr, res);
  strbuf_release(&peeled);
  return rc;
}

// Record layout: "\x01" HASH, PARENTS, AUTHOR, EMAIL, ISO DATE, UNIX TIME,
// SUBJECT, BODY, each ended by a 0 byte; then, with changed paths, their
// status and path(s), also 0-ended.
#define WIKIDB_LOG_Z_FORMAT "--format=tformat:%x01%H%x00%P%x00%an%x00%ae%x00%ad%x00%at%x00%s%x00%B"

// Fixed-size argument list with a joined-value helper; values that do not
// fit are never cut, the whole call fails instead.
struct arg_list {
  const char **argv;
  size_t cap;
  size_t n = 0;
  strbuf owned[8] = {};
  size_t n_owned = 0;
  bool ok = true;
  explicit arg_list(size_t room) : cap(room + 1) {
    argv = static_cast<const char **>(malloc(cap * sizeof *argv));
    if (!argv) {
      note_out_of_memory();
      ok = false;
    }
  }
  arg_list(const arg_list &) = delete;
  arg_list &operator=(const arg_list &) = delete;
  void add(const char *a) {
    if (ok && n + 1 < cap)
      argv[n++] = a;
    else
      ok = false;
  }
  void add_joined(const char *opt, const char *value) {
    if (n_owned == sizeof owned / sizeof *owned) {
      ok = false;
      return;
    }
    strbuf *b = &owned[n_owned++];
    if (strbuf_append_str(b, opt) != 0 || strbuf_append_str(b, value) != 0) {
      ok = false;
      return;
    }
    add(b->data);
  }
  const char *const *finish() {
    argv[n] = nullptr;
    return argv;
  }
  ~arg_list() {
    for (size_t i = 0; i < n_owned; i++) strbuf_release(&owned[i]);
    free(argv);
  }
};

static int refuse_args(git_output *res) {
  *res = {};
  set_error("Out of memory");
  return -1;
}

static size_t count_of(const char *const *list) {
  size_t n = 0;
  while (list && list[n]) n++;
  return n;
}

int git_log_page(const char *root, const git_log_query *q, git_output *res) {
  arg_list a(32 + count_of(q->starts));
  char skip[40], count[40];
  snprintf(skip, sizeof skip, "--skip=%ld", q->skip);
  snprintf(count, sizeof count, "--max-count=%ld", q->count);
  a.add("log");
  a.add("-z");
  a.add(WIKIDB_LOG_Z_FORMAT);
  a.add("--date=iso");
  a.add(WIKIDB_LOG_ALL_PARENTS);
  // With parents named every merge would be listed; for one page only those
  // where both sides changed it stay.
  if (q->path && q->rewrite_parents && q->simplify_merges) a.add("--simplify-merges");
  a.add(skip);
  a.add(count);
  if (q->author && *q->author) {
    // A literal part of "Name <mail>", in any letter case.
    a.add("--fixed-strings");
    a.add("--regexp-ignore-case");
    a.add_joined("--author=", q->author);
  }
  if (q->since && *q->since) a.add_joined("--since=", q->since);
  if (q->until && *q->until) a.add_joined("--until=", q->until);
  if (q->rewrite_parents) a.add("--parents");
  if (!q->path) {
    a.add("--name-status");
    a.add("--find-renames");
  } else {
    // The page's object in each commit: its size is then read without
    // looking the path up again in the commit's tree.
    a.add("--raw");
    a.add("--no-abbrev");
    a.add("--no-renames");
  }
  a.add("--end-of-options");
  for (const char *const *s = q->starts; *s; s++) a.add(*s);
  a.add("--");
  a.add(q->path ? q->path : "pages/");
  if (!a.ok) return refuse_args(res);
  return run_split(root, a.finish(), nullptr, res);
}

int git_commit_changes(const char *root, const char *commit, const char *old_path,
                       const char *new_path, git_output *res) {
  const char *args[] = {"diff-tree", "-r", "--root", "--no-commit-id", "--no-renames",
                        "--name-status", "-z", "--end-of-options", commit, "--",
                        old_path, new_path, nullptr};
  return run_split(root, args, nullptr, res);
}

int git_grep(const char *root, const git_grep_query *q, git_output *res) {
  arg_list a(32 + 2 * count_of(q->patterns) + count_of(q->paths));
  char max[40];
  a.add("grep");
  a.add("-z");
  a.add("-I");  // binary files are not pages
  a.add("--no-color");
  a.add("--all-match");
  a.add(q->regex ? "--extended-regexp" : "--fixed-strings");
  if (q->ignore_case) a.add("--ignore-case");
  if (q->words) a.add("--word-regexp");
  if (q->files_only) {
    a.add("--files-with-matches");
  } else {
    a.add("--line-number");
    a.add("--column");
    snprintf(max, sizeof max, "--max-count=%ld", q->max_per_file);
    a.add(max);
  }
  for (const char *const *p = q->patterns; *p; p++) {
    a.add("-e");
    a.add(*p);
  }
  a.add("--");
  if (q->paths)
    for (const char *const *p = q->paths; *p; p++) a.add(*p);
  else
    a.add("pages/");
  if (!a.ok) return refuse_args(res);
  return run_split(root, a.finish(), q->env, res);
}

int git_log_deletions(const char *root, const char *tip, git_output *res) {
  const char *args[] = {"log", "-z", WIKIDB_LOG_Z_FORMAT, "--date=iso", "--name-status",
                        "--no-renames", "--diff-filter=D", WIKIDB_LOG_ALL_PARENTS,
                        "--end-of-options", tip, "--",
                        "pages/", nullptr};
  return run_split(root, args, nullptr, res);
}

int git_find_merge(const char *root, const char *start, git_output *res) {
  const char *args[] = {"rev-list", "--min-parents=2", "--max-count=1", "--end-of-options",
                        start, nullptr};
  return run_split(root, args, nullptr, res);
}

int git_commit_parents(const char *root, const char *commit, git_output *res) {
  const char *args[] = {"rev-list", "--parents", "--no-walk", "--end-of-options", commit, nullptr};
  return run_split(root, args, nullptr, res);
}

int git_ls_tree_pages(const char *root, const char *commit, git_output *res) {
  const char *args[] = {"ls-tree", "-r", "-z", "--name-only", "--end-of-options", commit, "--",
                        "pages/", nullptr};
  return run_split(root, args, nullptr, res);
}

int git_blame(const char *root, const char *commit, const char *path, git_output *res) {
  // commit is a resolved hash: blame takes no --end-of-options.
  const char *args[] = {"blame", "--porcelain", commit, "--", path, nullptr};
  return run_split(root, args, nullptr, res);
}

int git_diff_blobs(const char *root, const char *from, const char *to, git_output *res) {
  const char *args[] = {"diff", "--no-color", "--no-ext-diff", "--no-textconv", "-U0",
                        "--end-of-options", from, to, nullptr};
  return run_split(root, args, nullptr, res);
}

// ---- Sync.

static int call_keep_out(const char *root, const char *const *args, const char *input, size_t len,
                         const char *const *env, char **out) {
  const git_call call = {args, input, len, env, true};
  return run_git_call_out(root, &call, out);
}

int git_config_get(const char *root, const char *key, char **out) {
  const char *args[] = {"config", "--local", "--get", "--end-of-options", key, nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, out);
}

int git_config_set(const char *root, const char *key, const char *value) {
  const char *args[] = {"config", "--local", "--replace-all", "--end-of-options", key, value,
                        nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, nullptr);
}

int git_ls_remote(const char *root, const char *url, const char *ref, const char *const *env,
                  git_output *res) {
  const char *args[] = {"ls-remote", "--end-of-options", url, ref, nullptr};
  const git_call call = {args, nullptr, 0, env, true};
  return run_git_call(root, &call, res);
}

int git_fetch_refspec(const char *root, const char *url, const char *refspec,
                      const char *const *env, git_output *res) {
  const char *args[] = {"fetch",  "--quiet", "--no-tags", "--no-write-fetch-head",
                        "--no-recurse-submodules", "--end-of-options", url, refspec, nullptr};
  const git_call call = {args, nullptr, 0, env, true};
  return run_git_call(root, &call, res);
}

int git_push_refspec(const char *root, const char *url, const char *refspec,
                     const char *const *env, git_output *res) {
  const char *args[] = {"push", "--porcelain", "--no-recurse-submodules", "--end-of-options",
                        url,    refspec,       nullptr};
  const git_call call = {args, nullptr, 0, env, true};
  return run_git_call(root, &call, res);
}

int git_update_ref_plain(const char *root, const char *ref, const char *hash) {
  const char *args[] = {"update-ref", "-m", "wikidb: sync", ref, hash, nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, nullptr);
}

int git_is_ancestor(const char *root, const char *ancestor, const char *descendant) {
  const char *args[] = {"merge-base", "--is-ancestor", ancestor, descendant, nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, nullptr);
}

int git_merge_base(const char *root, const char *a, const char *b, char **out) {
  const char *args[] = {"merge-base", a, b, nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, out);
}

int git_count_left_right(const char *root, const char *a, const char *b, char **out) {
  char range[300];
  snprintf(range, sizeof range, "%s...%s", a, b ? b : "");
  const char *args[] = {"rev-list", "--left-right", "--count", range, "--", nullptr};
  if (!b) {
    args[1] = "--count";
    args[2] = a;
    args[3] = "--";
    args[4] = nullptr;
  }
  return call_keep_out(root, args, nullptr, 0, nullptr, out);
}

int git_merge_tree(const char *root, const char *ours, const char *theirs, bool allow_unrelated,
                   git_output *res) {
  const char *args[] = {"merge-tree", "--write-tree",  "-z",   "--name-only", "--no-messages",
                        ours,         theirs,          nullptr, nullptr};
  if (allow_unrelated) {
    args[5] = "--allow-unrelated-histories";
    args[6] = ours;
    args[7] = theirs;
  }
  const git_call call = {args, nullptr, 0, nullptr, true};
  return run_git_call(root, &call, res);
}

int git_diff_raw(const char *root, const char *old_commit, const char *new_commit,
                 git_output *res) {
  const char *diff[] = {"diff-tree", "-r", "-z", "--no-renames", "--no-abbrev",
                        old_commit, new_commit, nullptr};
  const char *all[] = {"ls-tree", "-r", "-z", "--full-tree", new_commit, nullptr};
  const git_call call = {old_commit ? diff : all, nullptr, 0, nullptr, true};
  return run_git_call(root, &call, res);
}

int git_commit_tree_merge(const char *root, const char *tree, const char *p1, const char *p2,
                          const char *message, size_t len, char **out) {
  const char *args[] = {"commit-tree", tree, "-p", p1, "-p", p2, nullptr};
  return call_keep_out(root, args, message, len, nullptr, out);
}

int git_tree_with_entries(const char *root, const char *index_file, const char *tree,
                          const char *info, size_t info_len, char **out) {
  char env_entry[1300];
  snprintf(env_entry, sizeof env_entry, "GIT_INDEX_FILE=%s", index_file);
  const char *env[] = {env_entry, nullptr};
  const char *read_args[] = {"read-tree", tree, nullptr};
  const char *info_args[] = {"update-index", "-z", "--index-info", nullptr};
  const char *write_args[] = {"write-tree", nullptr};
  if (call_keep_out(root, read_args, nullptr, 0, env, nullptr) != 0) return -1;
  if (call_keep_out(root, info_args, info, info_len, env, nullptr) != 0) return -1;
  return call_keep_out(root, write_args, nullptr, 0, env, out);
}

int git_current_branch(const char *root, char **out) {
  const char *args[] = {"symbolic-ref", "-q", "--short", "HEAD", nullptr};
  return call_keep_out(root, args, nullptr, 0, nullptr, out);
}
