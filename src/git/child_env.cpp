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

// Whether entry "NAME=..." names the variable that name (ending at its
// terminator or at '=') names.
static bool same_name(const char *entry, const char *name, bool ignore_case) {
  size_t n = 0;
  while (name[n] && name[n] != '=' && entry[n] &&
         (ignore_case ? ascii_upper(entry[n]) == ascii_upper(name[n]) : entry[n] == name[n]))
    n++;
  return (name[n] == '\0' || name[n] == '=') && entry[n] == '=';
}

bool is_redirect_var(const char *entry, bool ignore_case) {
  for (const char *const *v = g_git_redirect_vars; *v; v++)
    if (same_name(entry, *v, ignore_case)) return true;
  return false;
}

bool is_overridden_var(const char *entry, const char *const *extra, bool ignore_case) {
  for (const char *const *v = extra; v && *v; v++)
    if (same_name(entry, *v, ignore_case)) return true;
  return false;
}
