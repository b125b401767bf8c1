// The two names of a page: its file below the root, and its repository path
// "pages/TITLE.wiki" that every git command takes.
#pragma once

enum { WIKIDB_FILE_PATH_CAP = 1200, WIKIDB_REPO_PATH_CAP = 600 };

struct page_path {
  char file[WIKIDB_FILE_PATH_CAP];  // root, '/' (native separator), repository path
  char repo[WIKIDB_REPO_PATH_CAP];  // always with '/'
};

// A title stays inside the pages directory: no component (split at '/' and
// '\') is empty, ".", "..", or ".git" in any case; on Windows no ':' at all.
bool title_is_safe(const char *title);

// Forms both paths of a safe title. False when the title is unsafe or a path
// would not fit its buffer (a cut path would name another page).
bool page_paths(const char *root, const char *title, page_path *out);
