// wikidb [-C ROOT] COMMAND [ARGS]: every library operation from the shell.
#include <errno.h>
#include <string.h>

#include "cli.h"
#include "commands.h"

// Output goes through stdio; a full disk or a closed pipe shows only when
// it is flushed, and must not end in a success status.
static int finish(int status) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    int e = errno;
    fprintf(stderr, "wikidb: write error: %s\n", e ? strerror(e) : "output failed");
    return EXIT_FAILED;
  }
  return status;
}

int main(int argc, char **argv) {
  std::string root = ".";
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i++) {
    std::string a = argv[i];
    if (a == "-C") {
      if (i + 1 >= argc) return usage_error(nullptr, "option '-C' needs a directory");
      root = argv[++i];
    } else if (a.compare(0, 2, "-C") == 0) {
      root = a.substr(2);
    } else if (a == "-h" || a == "--help") {
      print_full_help(stdout);
      return finish(EXIT_OK);
    } else if (a == "--version") {
      Parsed p;
      return finish(cmd_version(p));
    } else {
      return usage_error(nullptr, "unknown option '" + a + "'");
    }
  }
  if (i >= argc) return usage_error(nullptr, "no command given");
  const CommandSpec *cmd = find_command(argv[i]);
  if (!cmd) return usage_error(nullptr, std::string("'") + argv[i] + "' is not a wikidb command");
  if (const char *note = deprecation_note(argv[i])) fprintf(stderr, "wikidb: warning: %s\n", note);

  Parsed p;
  p.root = root;
  if (!parse_command_args(*cmd, argc, argv, i + 1, &p)) return EXIT_USAGE;
  if (p.help) {
    print_command_help(stdout, *cmd);
    return finish(EXIT_OK);
  }
  return finish(cmd->run(p));
}
