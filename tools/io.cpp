#include <errno.h>
#include <string.h>

#include "cli.h"
#include "platform.h"

int fail(const std::string &message) {
  std::string m = message;
  while (!m.empty() && (m.back() == '\n' || m.back() == '\r')) m.pop_back();
  fprintf(stderr, "wikidb: %s\n", m.c_str());
  return EXIT_FAILED;
}

int usage_error(const CommandSpec *cmd, const std::string &message) {
  fprintf(stderr, "wikidb: %s\n", message.c_str());
  if (cmd) {
    print_command_usage(stderr, *cmd);
    fprintf(stderr, "Run \"wikidb %s --help\" for details.\n", cmd->name);
  } else {
    print_main_usage(stderr);
  }
  return EXIT_USAGE;
}

wikidb_handle *open_wiki(const Parsed &p) {
  // Opening creates a repository wherever it is pointed; only init may do
  // that, so a mistyped -C does not leave a stray wiki behind.
  if (p.command->needs_wiki && !p.root.empty() && !is_directory(p.root + "/.git")) {
    fail("not a wiki: " + p.root + " (run \"wikidb init\" there to create one)");
    return nullptr;
  }
  wikidb_handle *h = wikidb_open(p.root.c_str());
  if (!h) {
    fail(wikidb_last_error());
    return nullptr;
  }
  // The open succeeds even when a repository setting could not be written;
  // later commits may then fail, so say it now.
  if (*wikidb_last_error()) fprintf(stderr, "wikidb: warning: %s\n", wikidb_last_error());
  return h;
}

void write_out(const char *data, size_t n) {
  if (n) fwrite(data, 1, n, stdout);
}

void write_out(const std::string &text) { write_out(text.data(), text.size()); }

bool read_input(const std::string &path, std::string *out, std::string *error) {
  FILE *f;
  bool is_stdin = path == "-";
  if (is_stdin) {
    stdin_binary();
    f = stdin;
  } else {
    f = fopen(path.c_str(), "rb");
    if (!f) {
      *error = "cannot open " + path + ": " + strerror(errno);
      return false;
    }
  }
  out->clear();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  bool bad = ferror(f) != 0;
  int saved = errno;
  if (!is_stdin) fclose(f);
  if (bad) {
    *error = "cannot read " + (is_stdin ? std::string("standard input") : path) + ": " +
             strerror(saved);
    return false;
  }
  return true;
}
