#include "store/paths.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

static bool is_sep(char c) { return c == '/' || c == '\\'; }

bool title_is_safe(const char *title) {
  if (!title || !*title) return false;
  const char *p = title;
  for (;;) {
    const char *start = p;
    while (*p && !is_sep(*p)) {
#ifdef _WIN32
      if (*p == ':') return false;  // drive letters and alternate streams
#endif
      p++;
    }
    size_t n = (size_t)(p - start);
    if (n == 0) return false;
    if (start[0] == '.' && (n == 1 || (n == 2 && start[1] == '.'))) return false;
    if (n == 4 && strncasecmp(start, ".git", 4) == 0) return false;
    if (!*p) return true;
    p++;
  }
}

bool page_paths(const char *root, const char *title, page_path *out) {
  if (!title_is_safe(title)) return false;
  int n = snprintf(out->repo, sizeof out->repo, "pages/%s.wiki", title);
  if (n < 0 || (size_t)n >= sizeof out->repo) return false;
  for (char *p = out->repo; *p; p++)
    if (*p == '\\') *p = '/';
#ifdef _WIN32
  const char sep = '\\';
#else
  const char sep = '/';
#endif
  n = snprintf(out->file, sizeof out->file, "%s/%s", root, out->repo);
  if (n < 0 || (size_t)n >= sizeof out->file) return false;
  for (char *p = out->file; *p; p++)
    if (is_sep(*p)) *p = sep;
  return true;
}
