// The wikidb program: its command table, parsed arguments and the helpers
// every command shares.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "wikidb.h"

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CONFLICT = 3 };

struct OptionSpec {
  char short_name;         // '\0' for a long-only option
  const char *long_name;   // without the leading "--"
  const char *value_name;  // null for a flag
  const char *help;
};

struct Parsed;

struct CommandSpec {
  const char *name;
  const char *synopsis;  // what follows "wikidb NAME" in the usage line
  const char *summary;   // one line for the command list
  const char *details;   // the rest of its help, may be empty
  std::vector<OptionSpec> options;
  size_t min_args, max_args;
  bool needs_wiki;  // refuses to run where ROOT is not a wiki yet
  int (*run)(const Parsed &);
};

struct Parsed {
  const CommandSpec *command = nullptr;
  std::string root;
  std::vector<std::string> args;
  // the options given, with their values, in command-line order
  std::vector<std::pair<const OptionSpec *, std::string>> options;
  bool help = false;  // -h or --help was given: show the command's help only
};

// The command table, in the order help lists it.
const std::vector<CommandSpec> &commands();
// Finds a command by its name or by an older name it still answers to.
const CommandSpec *find_command(const std::string &name);
// For an older name: what to tell the user about it; null otherwise.
const char *deprecation_note(const std::string &name);

// The value of the option last given, or null when it was not given.
const char *option_value(const Parsed &p, const char *long_name);
bool has_flag(const Parsed &p, const char *long_name);

// Fills p->args and p->options from argv[first..]; on a fault writes
// "wikidb: ..." and the command's usage to stderr and returns false.
bool parse_command_args(const CommandSpec &cmd, int argc, char **argv, int first, Parsed *p);

// Help texts, written to out.
void print_main_usage(FILE *out);
void print_full_help(FILE *out);
void print_command_help(FILE *out, const CommandSpec &cmd);
void print_command_usage(FILE *out, const CommandSpec &cmd);

// "wikidb: MESSAGE" on stderr; returns EXIT_FAILED.
int fail(const std::string &message);
// "wikidb: MESSAGE" and the command's usage on stderr; returns EXIT_USAGE.
int usage_error(const CommandSpec *cmd, const std::string &message);

// Opens the wiki at p.root, or reports why not and returns null.
wikidb_handle *open_wiki(const Parsed &p);

// The wiki of a command, closed on every way out of it (h null when it
// could not be opened; the reason is already reported).
struct Wiki {
  wikidb_handle *h;
  explicit Wiki(const Parsed &p) : h(open_wiki(p)) {}
  ~Wiki() { wikidb_close(h); }
  Wiki(const Wiki &) = delete;
  Wiki &operator=(const Wiki &) = delete;
};

// Writes bytes to stdout unchanged.
void write_out(const char *data, size_t n);
void write_out(const std::string &text);

// Reads a whole file, or standard input for "-", byte for byte.
bool read_input(const std::string &path, std::string *out, std::string *error);
