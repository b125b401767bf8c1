#include <string.h>

#include "git/spawn.h"

const char *const g_git_redirect_vars[] = {
    "GIT_DIR",          "GIT_WORK_TREE",
    "GIT_INDEX_FILE",   "GIT_OBJECT_DIRECTORY",
    "GIT_ALTERNATE_OBJECT_DIRECTORIES",
    "GIT_COMMON_DIR",   "GIT_NAMESPACE",
    // The pathspec modes: the library sets the literal one itself.
    "GIT_LITERAL_PATHSPECS", "GIT_GLOB_PATHSPECS",
    "GIT_NOGLOB_PATHSPECS",  "GIT_ICASE_PATHSPECS",
    nullptr,
};

const char g_git_literal_pathspecs[] = "GIT_LITERAL_PATHSPECS=1";

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

bool is_redirect_var(const char *entry, bool ignore_case) {
  for (const char *const *v = g_git_redirect_vars; *v; v++) {
    size_t n = 0;
    while ((*v)[n] && entry[n] &&
           (ignore_case ? ascii_upper(entry[n]) == (*v)[n] : entry[n] == (*v)[n]))
      n++;
    if ((*v)[n] == '\0' && entry[n] == '=') return true;
  }
  return false;
}
