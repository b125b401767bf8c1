#include <ctype.h>
#include <string.h>

#include <algorithm>

#include "cli.h"

namespace {

const size_t kWidth = 79;

// Writes text from column `indent`, wrapped at word boundaries, the first
// line continuing after whatever is already printed at `column`.
void write_wrapped(FILE *out, const std::string &text, size_t column, size_t indent) {
  size_t pos = 0;
  bool first_word = true;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (!first_word && column + 1 + word.size() > kWidth) {
      fprintf(out, "\n%*s", static_cast<int>(indent), "");
      column = indent;
    } else if (!first_word) {
      fputc(' ', out);
      column++;
    }
    fputs(word.c_str(), out);
    column += word.size();
    first_word = false;
  }
  fputc('\n', out);
}

std::string capitalised(const char *text) {
  std::string s = text;
  if (!s.empty()) s[0] = static_cast<char>(toupper(static_cast<unsigned char>(s[0])));
  return s;
}

std::string option_label(const OptionSpec &o) {
  std::string label = o.short_name ? std::string("-") + o.short_name + ", " : "    ";
  label += std::string("--") + o.long_name;
  if (o.value_name) label += std::string(" ") + o.value_name;
  return label;
}

void print_command_list(FILE *out) {
  size_t w = 0;
  for (const auto &c : commands()) w = std::max(w, strlen(c.name));
  for (const auto &c : commands()) fprintf(out, "  %-*s  %s\n", static_cast<int>(w), c.name, c.summary);
}

}  // namespace

void print_command_usage(FILE *out, const CommandSpec &cmd) {
  fprintf(out, "usage: wikidb [-C ROOT] %s%s%s\n", cmd.name, *cmd.synopsis ? " " : "", cmd.synopsis);
}

void print_command_help(FILE *out, const CommandSpec &cmd) {
  print_command_usage(out, cmd);
  fprintf(out, "\n%s.\n", capitalised(cmd.summary).c_str());
  if (*cmd.details) fprintf(out, "\n%s\n", cmd.details);
  std::vector<OptionSpec> options = cmd.options;
  options.push_back({'h', "help", nullptr, "show this help"});
  size_t w = 0;
  for (const auto &o : options) w = std::max(w, option_label(o).size());
  fputs("\nOptions:\n", out);
  for (const auto &o : options) {
    std::string label = option_label(o);
    fprintf(out, "  %-*s  ", static_cast<int>(w), label.c_str());
    write_wrapped(out, o.help, w + 4, w + 4);
  }
}

void print_main_usage(FILE *out) {
  fputs("usage: wikidb [-C ROOT] COMMAND [ARGS]\n\nCommands:\n", out);
  print_command_list(out);
  fputs("\nRun \"wikidb help\" for every command's details, \"wikidb COMMAND --help\" for one.\n",
        out);
}

void print_full_help(FILE *out) {
  fprintf(out,
          "wikidb: a wiki kept as plain files in a git repository (quenlow-wikidb %s)\n\n"
          "usage: wikidb [-C ROOT] COMMAND [ARGS]\n\n"
          "Global options:\n"
          "  -C ROOT     use the wiki at ROOT (default: the current directory)\n"
          "  -h, --help  show this help\n"
          "  --version   print the library's version\n\n"
          "Commands:\n",
          wikidb_version());
  print_command_list(out);
  fputs("\n", out);
  write_wrapped(out,
                "Output is for people: one line per page or commit, short hashes (7 "
                "characters), aligned columns; page texts and diffs are printed unchanged. "
                "ls, log and recent take --json for the library's own JSON. Options may "
                "come before or after the operands; \"--\" ends them, so that a title or "
                "commit may begin with '-'. Errors go to standard error as \"wikidb: "
                "MESSAGE\" with exit status 1; a wrong command line exits with status 2 and "
                "the usage.",
                0, 0);
  for (const auto &c : commands()) {
    fputs("\n----------------------------------------------------------------------------\n",
          out);
    print_command_help(out, c);
  }
}
