#include "cli.h"
#include "commands.h"

namespace {

const OptionSpec s_author = {'a', "author", "AUTHOR",
                             "commit author: \"Name <mail>\" is used as given, a bare name gets "
                             "a placeholder mail address (default \"Wiki User\")"};
const OptionSpec s_json = {'\0', "json", nullptr,
                           "print the library's JSON text unchanged, then a newline"};
const OptionSpec s_limit = {'n', "limit", "N", "at most N entries (default 50), N at least 1"};
const OptionSpec s_after = {'\0', "after", "CURSOR",
                            "the page after the one that printed this cursor (\"(more: ...)\")"};
const OptionSpec s_by = {'\0', "author", "TEXT",
                         "only commits whose author \"Name <mail>\" holds TEXT, in any letter case"};
const OptionSpec s_since = {'\0', "since", "DATE",
                            "only commits from DATE on: YYYY-MM-DD[ HH:MM[:SS]][ ZONE] or @SECONDS, "
                            "UTC unless a zone is given"};

}  // namespace

const std::vector<CommandSpec> &commands() {
  static const std::vector<CommandSpec> s_commands = {
      {"init", "", "create a wiki at ROOT, or bring an existing one up to date",
       "Creates ROOT, ROOT/pages and ROOT/meta when missing and makes ROOT a git\n"
       "repository when it is not one. The library writes its five repository\n"
       "settings (user.name, user.email, commit.gpgsign, core.autocrlf,\n"
       "core.quotepath) at every open, so init is safe to repeat. Every other\n"
       "command that reads or changes pages needs a wiki made this way.",
       {}, 0, 0, false, cmd_init},
      {"save", "TITLE [-a AUTHOR] [-m MESSAGE] [--if REV [--merge] [--json]] [FILE|-]",
       "write a page from a file or standard input and commit it",
       "Reads the page text from FILE, or from standard input when FILE is \"-\" or\n"
       "missing, byte for byte (no newline is added or translated), writes it to\n"
       "ROOT/pages/TITLE.wiki and commits it. A '/' in TITLE places the page in a\n"
       "subdirectory. Prints \"[HASH] SUBJECT\" for the new commit; saving the text\n"
       "the page already holds commits nothing and says so.\n"
       "With --if REV the page is saved only if its revision (\"wikidb rev TITLE\")\n"
       "is still REV; --if '' saves only a page that does not exist. Otherwise\n"
       "nothing is written, a line per conflict is printed (the library's report\n"
       "with --json) and the status is 3. --merge also merges edits that do not\n"
       "overlap the page's changes since REV and commits them; when they overlap,\n"
       "it prints the merged text with conflict markers instead, status 3.\n"
       "The library takes a page text only up to its first NUL byte, so a text\n"
       "holding a NUL byte is refused instead of being saved cut short.",
       {s_author, {'m', "message", "MESSAGE", "commit message (default \"Update TITLE\")"},
        {'\0', "if", "REV", "save only if the page's revision is still REV ('' : page absent)"},
        {'\0', "merge", nullptr, "merge non-overlapping edits made since REV and commit"},
        {'\0', "json", nullptr, "on conflict, print the library's conflict report"}},
       1, 2, true, cmd_save},
      {"mv", "FROM TO [-a AUTHOR] [-m MESSAGE]", "rename a page, keeping its text and history",
       "Moves page FROM to TO in one commit, which records both names in a\n"
       "\"Wikidb-Rename:\" trailer line. Refused when TO exists or FROM does not.",
       {s_author, {'m', "message", "MESSAGE", "commit message (default \"Rename FROM to TO\")"}},
       2, 2, true, cmd_mv},
      {"rev", "TITLE", "print a page's revision: the last commit that changed it",
       "Prints the full hash of the last commit that changed the page, or an empty\n"
       "line when the page does not exist, the token \"save --if\" takes:\n"
       "  wikidb save --if \"$(wikidb rev Home)\" Home edited.txt",
       {}, 1, 1, true, cmd_rev},
      {"cat", "TITLE", "print the current text of a page",
       "Prints the text of ROOT/pages/TITLE.wiki unchanged, committed or not, and\n"
       "adds nothing. The library hands texts over up to their first NUL byte, so\n"
       "a page file holding one prints up to it.",
       {}, 1, 1, true, cmd_cat},
      {"rm", "TITLE [-a AUTHOR] [-m MESSAGE]", "delete a page and commit the removal",
       "Removes ROOT/pages/TITLE.wiki and commits the removal. Its history stays:\n"
       "\"wikidb log TITLE\" and \"wikidb show\" still reach the old texts. Removing a\n"
       "page that does not exist commits nothing and says so.",
       {s_author, {'m', "message", "MESSAGE", "commit message (default \"Delete TITLE\")"}},
       1, 1, true, cmd_rm},
      {"ls", "[PREFIX] [--json]", "list the pages, or those whose names start with PREFIX",
       "One page name per line, in git's order, including pages saved but not yet\n"
       "committed. Names use '/' between directories and carry neither \"pages/\"\n"
       "nor \".wiki\". PREFIX is compared byte for byte, case-sensitively.",
       {s_json}, 0, 1, true, cmd_ls},
      {"log", "[TITLE] [-n N] [--after CURSOR] [--author TEXT] [--since DATE] [--until DATE] [--json]",
       "list the commits of a page, or of the whole wiki, a page at a time",
       "One line per commit, newest first: the short hash, the author date, the\n"
       "author's name, for a page its size in bytes in that commit (0 where the\n"
       "page did not exist), and the subject; for the whole wiki the pages the\n"
       "commit changed, each with A (added), M (modified), D (deleted) or R\n"
       "(renamed, with its old name). At most N commits are shown; when there are\n"
       "more, a last line \"(more: wikidb log ... --after CURSOR)\" gives the command\n"
       "for the next ones, which stays right while new commits arrive. A page's\n"
       "history follows its renames made by the library (--no-follow stops at the\n"
       "newest). The hashes are what show, diff, blame and restore take.",
       {s_limit, s_after, s_by, s_since,
        {'\0', "until", "DATE", "only commits up to DATE (the form of --since)"},
        {'\0', "follow", nullptr, "follow the page across recorded renames (the default)"},
        {'\0', "no-follow", nullptr, "stop at the page's newest rename"},
        s_json},
       0, 1, true, cmd_log},
      {"show", "TITLE COMMIT", "print a page as it was at a commit",
       "Prints the page's text at COMMIT unchanged. Fails when git does not know\n"
       "COMMIT or the page did not exist in it.",
       {}, 2, 2, true, cmd_show},
      {"diff", "TITLE FROM TO", "show how a page changed between two commits",
       "Prints git's unified diff of the page from commit FROM to commit TO\n"
       "unchanged, and nothing when the page was the same in both, or in neither.\n"
       "Fails when git does not know one of the commits.",
       {}, 3, 3, true, cmd_diff},
      {"restore", "TITLE COMMIT [-a AUTHOR]", "restore a page's text as of a commit, as a new commit",
       "Writes the text the page had at COMMIT back into the page and commits it\n"
       "with the message \"Rollback TITLE to COMMIT\", which cannot be chosen.\n"
       "Nothing is undone or removed: the commits after COMMIT stay in the\n"
       "history, and no other page changes. (git's own \"revert\" is different: it\n"
       "undoes the changes of one commit.) Restoring the text the page already\n"
       "holds commits nothing and says so. \"wikidb revert\" is an older,\n"
       "deprecated name for this command.",
       {s_author}, 2, 2, true, cmd_restore},
      {"recent", "[-n N] [--after CURSOR] [--author TEXT] [--since DATE] [--json]",
       "list the page changes of the latest commits, a page at a time",
       "One line per changed page, newest commit first: the short hash, the author\n"
       "date, the author's name, the kind of change (added, modified, deleted,\n"
       "renamed), the page (a renamed page with its old name) and the subject. N\n"
       "counts commits, not lines (default 50): a commit that changed two pages\n"
       "gives two lines. When there are more, a last line \"(more: wikidb recent\n"
       "--after CURSOR)\" gives the command for the next ones.",
       {s_limit, s_after, s_by, s_since, s_json}, 0, 0, true, cmd_recent},
      {"grep", "WORD... [-w] [--titles] [-E] [--case-sensitive] [-n N] [--json]",
       "find the pages holding every word",
       "Prints \"PAGE:LINE:COLUMN: TEXT\" for each line of a page that holds any of\n"
       "the words, on pages that hold all of them (in any order, on any lines).\n"
       "Words are literal texts and letter case is ignored (-i), also for accented\n"
       "Latin, Greek and Cyrillic letters. With --titles, pages whose names hold\n"
       "every word come first as \"PAGE (title)\". At most N hits (default 100); a\n"
       "last line says when there are more.",
       {{'i', "ignore-case", nullptr, "ignore letter case (the default)"},
        {'\0', "case-sensitive", nullptr, "match letter case exactly"},
        {'w', "word-regexp", nullptr, "match whole words only"},
        {'\0', "titles", nullptr, "search the page names too"},
        {'E', "extended-regexp", nullptr, "the words are extended regular expressions"},
        {'n', "limit", "N", "at most N hits (default 100), N at least 1"}, s_json},
       1, 1000, true, cmd_grep},
      {"deleted", "[--json]", "list the pages that were deleted and are gone",
       "One line per page that some commit removed and that does not exist now,\n"
       "most recently removed first: the page, the commit that removed it, its\n"
       "date, and the restore command that brings back its last text.",
       {s_json}, 0, 0, true, cmd_deleted},
      {"blame", "TITLE [REV] [--json]", "show who last changed each line of a page",
       "One line per line of the page at REV (default: the latest commit): the\n"
       "short hash, author and date of the commit that last changed it, the line\n"
       "number and the text. Lines kept across a rename made by the library are\n"
       "traced to their commits under the old name.",
       {s_json}, 1, 2, true, cmd_blame},
      {"remote", "add NAME URL [--branch BRANCH]", "name a remote repository to sync with",
       "Stores URL (a URL or path git reaches, or the name of a remote of the\n"
       "repository's git configuration) as the wiki's remote NAME, syncing BRANCH\n"
       "(default: the wiki's own branch).",
       {{'\0', "branch", "BRANCH", "the remote's branch"}}, 3, 3, true, cmd_remote},
      {"sync", "[--pull-only|--push-only] [--allow-unrelated] [--json] [REMOTE]",
       "fetch, integrate and push the wiki's changes with a remote",
       "Fetches REMOTE (default \"origin\"), brings its changes in (a fast-forward,\n"
       "or a merge made in git's objects: the work tree never holds a merge in\n"
       "progress) and pushes the result. Prints the outcome, the pages changed and\n"
       "each conflicting page; on conflict nothing changes and the status is 3:\n"
       "save the resolved page with \"wikidb resolve\" and sync again.",
       {{'\0', "pull-only", nullptr, "integrate the remote's changes, push nothing"},
        {'\0', "push-only", nullptr, "push, and fail when the remote has changes"},
        {'\0', "allow-unrelated", nullptr, "merge a remote history with no common commit"},
        s_json},
       0, 1, true, cmd_sync},
      {"resolve", "TITLE [-a AUTHOR] [-m MESSAGE] [--remote NAME] [FILE|-]",
       "save the resolved text of a page a sync reported in conflict",
       "Saves the text (from FILE or standard input) on top of the page as the\n"
       "sync's report found it here, and marks the conflict resolved: the next\n"
       "\"wikidb sync\" merges it. Status 3 when the page changed here since.",
       {s_author, {'m', "message", "MESSAGE", "commit message (default \"Update TITLE\")"},
        {'\0', "remote", "NAME", "the remote of the sync (default \"origin\")"}},
       1, 2, true, cmd_resolve},
      {"version", "", "print the library's version", "", {}, 0, 0, false, cmd_version},
      {"help", "[COMMAND]", "show this help, or one command's",
       "Without COMMAND, describes every command; \"wikidb help COMMAND\" is the same\n"
       "as \"wikidb COMMAND --help\".",
       {}, 0, 1, false, cmd_help},
  };
  return s_commands;
}

namespace {

// Names kept working after a command was renamed, with what to say on use.
struct Alias {
  const char *name, *command, *note;
};
const Alias s_aliases[] = {
    {"revert", "restore",
     "\"wikidb revert\" is deprecated, use \"wikidb restore\": it restores the page's "
     "text as of COMMIT, which is not what git revert does"},
};

}  // namespace

const CommandSpec *find_command(const std::string &name) {
  std::string wanted = name;
  for (const Alias &a : s_aliases)
    if (name == a.name) wanted = a.command;
  for (const auto &c : commands())
    if (wanted == c.name) return &c;
  return nullptr;
}

const char *deprecation_note(const std::string &name) {
  for (const Alias &a : s_aliases)
    if (name == a.name) return a.note;
  return nullptr;
}
