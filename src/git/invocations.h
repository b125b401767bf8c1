// Every git command the library runs, one function each. The argument lists
// live in invocations.cpp and nowhere else.
#pragma once

#include <stddef.h>

#include "git/runner.h"

// The address the library commits under when the caller names nobody.
#define WIKIDB_DEFAULT_NAME "Wiki User"
#define WIKIDB_DEFAULT_EMAIL "wiki@quenlow-wikidb.invalid"

// Lifecycle.
int git_init(const char *root);
void git_write_settings(const char *root);

// Index and commits. PATH arguments are repository paths ("pages/T.wiki").
int git_add(const char *root, const char *path);
// Removes path from the index only; the work tree is not touched.
int git_rm(const char *root, const char *path);
// Brings the index entries of paths back to HEAD (removed where HEAD lacks
// them, also before the first commit); the work tree is not touched.
int git_reset_paths(const char *root, const char *const *paths, size_t n);
// The entries of rev's tree for paths, NUL-separated ("MODE TYPE HASH\tPATH"),
// standard error kept apart.
int git_ls_tree(const char *root, const char *rev, const char *const *paths, size_t n,
                git_output *res);
// 0 when HEAD names a commit, 1 before the first commit.
int git_head_exists(const char *root);
// The bytes of a blob ("HASH" or "REV:PATH"), standard error kept apart.
int git_cat_blob(const char *root, const char *object, git_output *res);
// Puts an entry for path in the index, naming a blob already stored.
int git_index_add_entry(const char *root, const char *mode, const char *hash, const char *path);
// Messages longer than this go to git on standard input ("-F -"): one
// argument may hold at most 128 KiB on Linux, a whole command line 32,767
// characters on Windows.
enum { GIT_MESSAGE_ARG_MAX = 8192 };
// Commits the index. The message is recorded as given (git completes its
// last line), whatever its length.
int git_commit(const char *root, const char *message, const char *author, char **out);
// 0 when the index matches HEAD (nothing staged), 1 when something is staged.
int git_staged_changes(const char *root);
// The index's entry for path: *out is null when the index does not hold it.
int git_ls_tracked(const char *root, const char *path, char **out);

// Reading the past.
int git_show(const char *root, const char *object, char **out);
int git_diff(const char *root, const char *from, const char *to, const char *path, char **out);

// Reports. path may be null for the whole wiki.
int git_log_history(const char *root, const char *path, char **out);
// The page's log with each commit's diff entries, NUL-separated (-z):
// *out_len bytes, holding 0 bytes.
int git_log_history_raw(const char *root, const char *path, char **out, size_t *out_len);
int git_cat_file_size(const char *root, const char *object, char **out);
// Sizes of many objects: input holds NUL-terminated object names.
int git_cat_file_sizes(const char *root, const char *input, size_t input_len, char **out);
int git_ls_pages(const char *root, char **out);
int git_log_recent(const char *root, int count, char **out);

// Keeps git's commit-graph (with changed-path filters) up to date, so that
// path-limited logs stay fast in a long history: adds the commits it lacks
// as a new layer, or with fill rewrites it to compute filters it lacks. At
// most GRAPH_NEW_FILTERS filters per call. Best effort: neither its result
// nor its message is kept.
void git_update_commit_graph(const char *root, bool fill);

// Lets git pack loose objects when it finds enough of them ("gc --auto"),
// in the foreground and leaving the commit-graph alone. Best effort, as
// above: the error slot is left as it was.
void git_gc_auto(const char *root);

// ---- Objects-first writes: commits built without the shared index.

// git cat-file --batch with NUL-terminated object names in input; the raw
// output (headers and contents) in res.
struct git_output;
int git_cat_file_batch(const char *root, const char *input, size_t input_len, git_output *res);
// Writes len bytes as an object of type ("blob" or "tree") and gives its hash
// (a line) in *out.
int git_hash_object(const char *root, const char *type, const char *data, size_t len, char **out);
// Makes a commit of tree with parent (null for none); the message is read
// from standard input; env carries the identities and dates. Hash in *out.
int git_commit_tree(const char *root, const char *tree, const char *parent, const char *message,
                    size_t message_len, const char *const *env, char **out);
// Moves HEAD (through its branch) from old_hash ("" when it must not exist
// yet) to new_hash, only if it still holds old_hash.
int git_update_ref_cas(const char *root, const char *new_hash, const char *old_hash,
                       const char *reason);
// The latest commit reachable from tip that changed path, with its name
// status ("HASH\n\nS\tPATH\n"); nothing when no commit did.
int git_last_change(const char *root, const char *tip, const char *path, char **out);
// The commit HEAD names, one line; exit status 1 when HEAD has no commit.
int git_rev_parse_head(const char *root, char **out);
// Entries "MODE HASH\tPATH\0" (mode 0 removes the path) for the shared index.
int git_update_index_info(const char *root, const char *input, size_t input_len);
// Three-way merge of files named relative to root, labelled ours, base,
// theirs; the result on standard output, exit status the count of conflicts.
int git_merge_file(const char *root, const char *ours, const char *base, const char *theirs,
                   git_output *res);
// Stores the objects of a pack (fed on standard input) as loose objects.
int git_unpack_objects(const char *root, const char *pack, size_t len);
// ---- Paged reads. Each keeps git's standard error apart (res must be
// released with git_output_release); every value reaches git joined to its
// option ("--author=VALUE") or after "--", so none can become an option.
struct git_output;

// The commit a revision names: rev-parse --verify of "REV^{commit}".
int git_resolve_commit(const char *root, const char *rev, git_output *res);

// One page of a log, NUL-separated (see reports/parse_log.h for the
// record layout). starts: revisions to walk from (hashes, or "HASH^@");
// path: one repository path, or null for every page file with the changed
// paths of each commit listed. author/since/until may be null.
struct git_log_query {
  const char *const *starts;  // null-terminated
  long skip;
  long count;
  const char *author;
  const char *since;
  const char *until;
  const char *path;
  // Parents as the path-limited history sees them (--parents), so that the
  // caller can tell where the walk goes on.
  bool rewrite_parents;
  // With parents and a path: list only the merges where the path changed on
  // both sides. Costs a walk of the whole history first, so only for
  // histories that hold a merge.
  bool simplify_merges;
};
int git_log_page(const char *root, const git_log_query *q, git_output *res);

// Name and status of old_path and new_path in commit's own change.
int git_commit_changes(const char *root, const char *commit, const char *old_path,
                       const char *new_path, git_output *res);

// git grep over the tracked page files of the work tree. patterns: one per
// term, each given after -e. regex: extended regular expressions instead of
// fixed strings. files_only: names of the files with every term (-l);
// otherwise the matching lines of the given paths (null: all pages), at most
// max_per_file per file.
struct git_grep_query {
  const char *const *patterns;
  bool regex;
  bool ignore_case;
  bool words;
  bool files_only;
  long max_per_file;
  const char *const *paths;  // null-terminated, or null for "pages/"
  const char *const *env;    // extra environment (the locale), or null
};
int git_grep(const char *root, const git_grep_query *q, git_output *res);

// Every commit that removed a page file, newest first, with its changes.
int git_log_deletions(const char *root, const char *tip, git_output *res);
// A merge reachable from start: exit status 0 and its hash in res->out, or
// 0 with no output when there is none.
int git_find_merge(const char *root, const char *start, git_output *res);
// The parents of a commit, one hash a line.
int git_commit_parents(const char *root, const char *commit, git_output *res);
// The page files of a commit's tree, NUL-separated.
int git_ls_tree_pages(const char *root, const char *commit, git_output *res);
// git blame --porcelain of path at commit.
int git_blame(const char *root, const char *commit, const char *path, git_output *res);
// The hunk headers of the change from blob from (REV:PATH) to blob to.
int git_diff_blobs(const char *root, const char *from, const char *to, git_output *res);

// ---- Sync with a remote repository. env carries the pinned transport
// settings for calls that reach the network (null-terminated, or null).

// git config: *out gets the value (a line), exit status 1 when unset.
int git_config_get(const char *root, const char *key, char **out);
int git_config_set(const char *root, const char *key, const char *value);
// The remote's refs named ref ("HASH\tREF" lines), the URL never taken for
// an option.
int git_ls_remote(const char *root, const char *url, const char *ref, const char *const *env,
                  git_output *res);
// Fetches refspec from url, writing no FETCH_HEAD, tags or submodules.
int git_fetch_refspec(const char *root, const char *url, const char *refspec,
                      const char *const *env, git_output *res);
// Pushes refspec to url (never forced); --porcelain lines in res->out.
int git_push_refspec(const char *root, const char *url, const char *refspec,
                     const char *const *env, git_output *res);
// Sets ref (a full name such as refs/wikidb/...) to hash, unconditionally.
int git_update_ref_plain(const char *root, const char *ref, const char *hash);
// Exit status 0 when ancestor is an ancestor of (or equal to) descendant, 1 when not.
int git_is_ancestor(const char *root, const char *ancestor, const char *descendant);
// The best common ancestor (a line), exit status 1 when there is none.
int git_merge_base(const char *root, const char *a, const char *b, char **out);
// "LEFT\tRIGHT" counts of commits only in a and only in b; b null: the
// count of commits reachable from a.
int git_count_left_right(const char *root, const char *a, const char *b, char **out);
// Merge in objects: "TREE\0PATH\0..." (the conflicted paths), exit status 1
// when there are conflicts.
int git_merge_tree(const char *root, const char *ours, const char *theirs, bool allow_unrelated,
                   git_output *res);
// Raw changes between two commits, -z, no renames (old null: every file of new).
int git_diff_raw(const char *root, const char *old_commit, const char *new_commit, git_output *res);
// A commit of tree with two parents, message on standard input.
int git_commit_tree_merge(const char *root, const char *tree, const char *p1, const char *p2,
                          const char *message, size_t len, char **out);
// With a private index file: read tree, apply index-info input, write the tree.
int git_tree_with_entries(const char *root, const char *index_file, const char *tree,
                          const char *info, size_t info_len, char **out);
// The short name of the branch HEAD names (a line), exit status 1 when detached.
int git_current_branch(const char *root, char **out);
