// The two names of a page: its file below the root, and its repository path
// "pages/TITLE.wiki" that every git command takes.
#pragma once

#include <stddef.h>

// Both separators count everywhere: a title or root written for Windows
// means the same on every system.
inline bool is_sep(char c) { return c == '/' || c == '\\'; }

enum { WIKIDB_FILE_PATH_CAP = 1200, WIKIDB_REPO_PATH_CAP = 600 };

struct page_path {
  char file[WIKIDB_FILE_PATH_CAP];  // root, '/' (native separator), repository path
  char repo[WIKIDB_REPO_PATH_CAP];  // always with '/'
};

// A title stays inside the pages directory: no component (split at '/' and
// '\') is empty, ".", "..", or ".git" in any case, and the platform's file
// names can hold it (fs_title_allowed: on Windows no ':', no device names...).
bool title_is_safe(const char *title);

// Forms both paths of a safe title. False when the title is unsafe, when git
// would refuse its repository path (git_path_rules.h), when a directory of
// it ends in ".wiki" (it would stand where a page file does), or when a path
// would not fit its buffer (a cut path would name another page).
bool page_paths(const char *root, const char *title, page_path *out);

// On a volume that ignores letter case, whether the page's file (or a
// directory on its way) exists under another spelling, as "Home.wiki" for
// the title "HOME": writing through it would change another page. Then the
// existing page's title (as far as it exists: "Home", or "Dir" for a
// directory) goes to existing, cut to cap bytes.
bool page_case_twin(const char *root, const page_path *p, char *existing, size_t cap);

// As page_case_twin, leaving "Title collides with existing page: EXISTING"
// when it finds one: a writer then stops before touching anything.
bool refuse_case_twin(const char *root, const page_path *p);
