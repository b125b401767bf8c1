#include "store/paths.h"

#include "frame/error.h"
#include "store/fs.h"
#include "store/git_path_rules.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

bool title_is_safe(const char *title) {
  if (!title || !*title) return false;
  // What the platform's file names cannot hold as given (Windows drops a
  // final dot, reserves device names, reads ':' as a stream).
  if (!fs_title_allowed(title)) return false;
  const char *p = title;
  for (;;) {
    const char *start = p;
    while (*p && !is_sep(*p)) p++;
    size_t n = (size_t)(p - start);
    if (n == 0) return false;
    if (start[0] == '.' && (n == 1 || (n == 2 && start[1] == '.'))) return false;
    if (n == 4 && strncasecmp(start, ".git", 4) == 0) return false;
    if (!*p) return true;
    p++;
  }
}

// A directory named like a page file ("x.wiki/y") would stand where the page
// "x" keeps its file, so whichever came second could never be written.
static bool has_page_named_directory(const char *repo) {
  static const char ext[] = ".wiki";
  const size_t ext_len = sizeof ext - 1;
  for (const char *slash = strchr(repo, '/'); slash; slash = strchr(slash + 1, '/')) {
    if ((size_t)(slash - repo) >= ext_len && memcmp(slash - ext_len, ext, ext_len) == 0)
      return true;
  }
  return false;
}

bool page_paths(const char *root, const char *title, page_path *out) {
  if (!title_is_safe(title)) return false;
  int n = snprintf(out->repo, sizeof out->repo, "pages/%s.wiki", title);
  if (n < 0 || (size_t)n >= sizeof out->repo) return false;
  for (char *p = out->repo; *p; p++)
    if (*p == '\\') *p = '/';
  if (!git_accepts_path(out->repo) || has_page_named_directory(out->repo)) return false;
  const char sep = fs_separator();
  n = snprintf(out->file, sizeof out->file, "%s/%s", root, out->repo);
  if (n < 0 || (size_t)n >= sizeof out->file) return false;
  for (char *p = out->file; *p; p++)
    if (is_sep(*p)) *p = sep;
  return true;
}

bool page_case_twin(const char *root, const page_path *p, char *existing, size_t cap) {
  char found[WIKIDB_REPO_PATH_CAP * 2];
  if (!pagefs_case_twin(root, p->repo, found, sizeof found)) return false;
  // Shown as a title: without "pages/" and the page file's ".wiki".
  const char *name = strncmp(found, "pages/", 6) == 0 ? found + 6 : found;
  size_t n = strlen(name);
  if (n > 5 && strcmp(name + n - 5, ".wiki") == 0) n -= 5;
  snprintf(existing, cap, "%.*s", (int)n, name);
  return true;
}

bool refuse_case_twin(const char *root, const page_path *p) {
  char existing[WIKIDB_REPO_PATH_CAP];
  if (!page_case_twin(root, p, existing, sizeof existing)) return false;
  set_error("Title collides with existing page: %s", existing);
  return true;
}
