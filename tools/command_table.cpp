#include "cli.h"
#include "commands.h"

namespace {

const OptionSpec s_author = {'a', "author", "AUTHOR",
                             "commit author: \"Name <mail>\" is used as given, a bare name gets "
                             "a placeholder mail address (default \"Wiki User\")"};
const OptionSpec s_json = {'\0', "json", nullptr,
                           "print the library's JSON text unchanged, then a newline"};

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
      {"log", "[TITLE] [--json]", "list the commits of a page, or of the whole wiki",
       "One line per commit, newest first: the short hash, the author date, the\n"
       "author's name, for a page its size in bytes in that commit (0 where the\n"
       "page did not exist), and the subject. The hashes, short or full, are what\n"
       "show, diff and restore take; any revision git understands works there too.",
       {s_json}, 0, 1, true, cmd_log},
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
      {"recent", "[-n N] [--json]", "list the page changes of the latest commits",
       "One line per changed page, newest commit first: the short hash, the author\n"
       "date, the author's name, the page and the subject. N counts commits, not\n"
       "lines (default 50): a commit that changed two pages gives two lines.",
       {{'n', "limit", "N", "look at the latest N commits, N at least 1"}, s_json}, 0, 0, true,
       cmd_recent},
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
