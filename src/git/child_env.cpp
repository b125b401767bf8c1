#include <string.h>

#include "git/spawn.h"

const char *const g_git_redirect_vars[] = {
    "GIT_DIR",          "GIT_WORK_TREE",
    "GIT_INDEX_FILE",   "GIT_OBJECT_DIRECTORY",
    "GIT_ALTERNATE_OBJECT_DIRECTORIES",
    "GIT_COMMON_DIR",   "GIT_NAMESPACE",
    "GIT_SHALLOW_FILE",
    // Makes "git config" write the settings of open into another file.
    "GIT_CONFIG",
    // The pathspec modes: the library sets the literal one itself.
    "GIT_LITERAL_PATHSPECS", "GIT_GLOB_PATHSPECS",
    "GIT_NOGLOB_PATHSPECS",  "GIT_ICASE_PATHSPECS",
    nullptr,
};

const char *const g_git_output_vars[] = {
    // Each replaces or reshapes the diff that is returned.
    "GIT_EXTERNAL_DIFF", "GIT_DIFF_OPTS", "GIT_DIFF_PATH_COUNTER", "GIT_DIFF_PATH_TOTAL",
    // Configuration from the host's command line: it would outrank the
    // repository and undo the pinned settings below.
    "GIT_CONFIG_PARAMETERS", "GIT_CONFIG_COUNT",
    // A fixed date would stamp every edit with it, so histories would lie.
    "GIT_AUTHOR_DATE", "GIT_COMMITTER_DATE",
    // Send what git prints to files (Windows): the library would read nothing.
    "GIT_REDIRECT_STDIN", "GIT_REDIRECT_STDOUT", "GIT_REDIRECT_STDERR",
    nullptr,
};

// Families removed by prefix: every trace (their lines join the output that
// is parsed), the host's numbered settings, and git's test switches (one
// of them turns syncing off).
static const char *const s_removed_prefixes[] = {
    "GIT_TRACE", "GIT_CONFIG_KEY_", "GIT_CONFIG_VALUE_", "GIT_TEST_", nullptr,
};

// The settings, in GIT_CONFIG_COUNT form, are the strongest git reads
// (above the repository's, the user's and the system's files).
const char *const g_git_profile_env[] = {
    // Every path the library passes names exactly that file, so a page
    // titled "*" or "[ab]" never reaches other pages.
    "GIT_LITERAL_PATHSPECS=1",
    // Trace targets may also come from the user's files; these switch them off.
    "GIT_TRACE2=0", "GIT_TRACE2_PERF=0", "GIT_TRACE2_EVENT=0",
    "GIT_CONFIG_COUNT=17",
    // Reports are UTF-8, read without quoting, with no colour or signature
    // lines, and a page's history is its own (no rename following).
    "GIT_CONFIG_KEY_0=i18n.logOutputEncoding", "GIT_CONFIG_VALUE_0=UTF-8",
    "GIT_CONFIG_KEY_1=i18n.commitEncoding",    "GIT_CONFIG_VALUE_1=UTF-8",
    "GIT_CONFIG_KEY_2=core.quotepath",         "GIT_CONFIG_VALUE_2=false",
    "GIT_CONFIG_KEY_3=color.ui",               "GIT_CONFIG_VALUE_3=false",
    "GIT_CONFIG_KEY_4=color.diff",             "GIT_CONFIG_VALUE_4=false",
    "GIT_CONFIG_KEY_5=log.showSignature",      "GIT_CONFIG_VALUE_5=false",
    "GIT_CONFIG_KEY_6=log.follow",             "GIT_CONFIG_VALUE_6=false",
    // Diffs in git's plain form.
    "GIT_CONFIG_KEY_7=diff.noprefix",          "GIT_CONFIG_VALUE_7=false",
    "GIT_CONFIG_KEY_8=diff.context",           "GIT_CONFIG_VALUE_8=3",
    "GIT_CONFIG_KEY_9=diff.suppressBlankEmpty", "GIT_CONFIG_VALUE_9=false",
    // Commits: never signed (no key to ask for), messages recorded as given,
    // page bytes stored as written, pages never hidden by the user's
    // ignore file.
    "GIT_CONFIG_KEY_10=commit.gpgsign",        "GIT_CONFIG_VALUE_10=false",
    "GIT_CONFIG_KEY_11=commit.cleanup",        "GIT_CONFIG_VALUE_11=verbatim",
    "GIT_CONFIG_KEY_12=core.autocrlf",         "GIT_CONFIG_VALUE_12=false",
    "GIT_CONFIG_KEY_13=core.excludesFile",     "GIT_CONFIG_VALUE_13=",
    // Durability: objects, references and the index reach the disk before
    // git reports success.
    "GIT_CONFIG_KEY_14=core.fsync",            "GIT_CONFIG_VALUE_14=committed,index",
    "GIT_CONFIG_KEY_15=core.fsyncMethod",      "GIT_CONFIG_VALUE_15=fsync",
    // No housekeeping started behind a commit: the library chooses when
    // (gc.auto stays the repository's, for the library's own "gc --auto").
    "GIT_CONFIG_KEY_16=maintenance.auto",      "GIT_CONFIG_VALUE_16=false",
    nullptr,
};

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

// Whether entry "NAME=..." names the variable that name (ending at its
// terminator or at '=') names; with prefix, any variable whose name starts
// with it.
static bool same_name(const char *entry, const char *name, bool ignore_case, bool prefix = false) {
  size_t n = 0;
  while (name[n] && name[n] != '=' && entry[n] &&
         (ignore_case ? ascii_upper(entry[n]) == ascii_upper(name[n]) : entry[n] == name[n]))
    n++;
  if (name[n] != '\0' && name[n] != '=') return false;
  return entry[n] == '=' || (prefix && entry[n] != '\0' && strchr(entry + n, '='));
}

bool is_redirect_var(const char *entry, bool ignore_case) {
  for (const char *const *v = g_git_redirect_vars; *v; v++)
    if (same_name(entry, *v, ignore_case)) return true;
  return false;
}

bool is_removed_var(const char *entry, bool ignore_case) {
  if (is_redirect_var(entry, ignore_case)) return true;
  for (const char *const *v = g_git_output_vars; *v; v++)
    if (same_name(entry, *v, ignore_case)) return true;
  for (const char *const *v = s_removed_prefixes; *v; v++)
    if (same_name(entry, *v, ignore_case, true)) return true;
  // The library's own entries replace the host's of the same name.
  return is_overridden_var(entry, g_git_profile_env, ignore_case);
}

bool is_overridden_var(const char *entry, const char *const *extra, bool ignore_case) {
  for (const char *const *v = extra; v && *v; v++)
    if (same_name(entry, *v, ignore_case)) return true;
  return false;
}
