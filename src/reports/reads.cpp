#include "reports/reads.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"
#include "git/commit_graph.h"
#include "git/invocations.h"
#include "reports/parse_log.h"

const char *read_finish(char **slot, strbuf *json, unsigned long out_of_memory) {
  if (out_of_memory_count() != out_of_memory || !json->data) {
    strbuf_release(json);
    set_error("Out of memory");
    return nullptr;
  }
  replace_slot(slot, strbuf_detach(json));
  clear_error();
  return *slot;
}

static bool take_hash(const git_output &res, char hash[65]) {
  size_t n = res.out_len;
  while (n && (res.out[n - 1] == '\n' || res.out[n - 1] == '\r')) n--;
  if (n != 40 && n != 64) return false;
  for (size_t i = 0; i < n; i++) {
    char c = res.out[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  memcpy(hash, res.out, n);
  hash[n] = '\0';
  return true;
}

bool head_commit(const char *root, char hash[65]) {
  git_output res;
  hash[0] = '\0';
  int rc = git_resolve_commit(root, "HEAD", &res);
  // rev-parse --verify --quiet says nothing and exits 1 when HEAD names no
  // commit yet; any other failure is git's.
  bool ok = rc == 0 ? take_hash(res, hash)
                    : rc == 1 && !res.err && !res.out && !head_has_commits(root);
  if (ok) {
    if (rc != 0) clear_error();
  } else if (rc == 0) {
    set_error("Unexpected output from git rev-parse");
  }
  git_output_release(&res);
  return ok;
}

bool resolve_revision(const char *root, const char *rev, char hash[65]) {
  git_output res;
  int rc = git_resolve_commit(root, rev, &res);
  bool ok = rc == 0 && take_hash(res, hash);
  if (!ok && (rc == 0 || (rc == 1 && !res.err && !res.out))) set_error("Unknown revision: %s", rev);
  git_output_release(&res);
  return ok;
}

bool one_line(const char *text) { return !text || !strpbrk(text, "\r\n"); }

// Whether commit really renamed old_title to the page: the old file
// removed and the new one added by it. A line in a message alone is not
// enough, since a host may write any message.
bool renamed_here(const char *root, const char *commit, const char *old_title,
                         const page_path &to) {
  page_path from;
  if (!page_paths(root, old_title, &from)) return false;
  git_output res;
  bool removed = false, added = false;
  if (git_commit_changes(root, commit, from.repo, to.repo, &res) == 0) {
    const char *p = res.out, *end = res.out + res.out_len;
    span status, path;
    while (next_z_field(&p, end, &status) && next_z_field(&p, end, &path)) {
      if (status.n != 1) continue;
      if (status.p[0] == 'D' && path.n == strlen(from.repo) && memcmp(path.p, from.repo, path.n) == 0)
        removed = true;
      if (status.p[0] == 'A' && path.n == strlen(to.repo) && memcmp(path.p, to.repo, path.n) == 0)
        added = true;
    }
  }
  git_output_release(&res);
  clear_error();
  return removed && added;
}

