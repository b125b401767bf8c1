// The Windows command-line quoting: a command line built from any argument
// list must split back into exactly that list by the rules a Windows
// program applies to its command line. Input: the arguments, separated by
// 0 bytes; the first one stands for the wiki root.
#include "fuzz_support.h"
#include "git/quote.h"

// Splits a command line as the Microsoft C runtime and CommandLineToArgvW
// do. The program name is taken up to the first blank or tab, or between
// quotes with no escapes. After it: blanks and tabs outside quotes separate
// arguments; 2n backslashes before a quote give n and the quote toggles
// quoting, 2n+1 give n and a literal quote; other backslashes are literal.
// Splitters of different ages differ on "" inside quotes: a literal quote
// after which quoting goes on ('modern') or ends. The quoting must not lean
// on either, so both are tried.
static std::vector<std::string> split_command_line(const std::string &cl, bool modern) {
  std::vector<std::string> argv;
  size_t i = 0, n = cl.size();
  std::string prog;
  if (i < n && cl[i] == '"') {
    i++;
    while (i < n && cl[i] != '"') prog.push_back(cl[i++]);
    if (i < n) i++;
  } else {
    while (i < n && cl[i] != ' ' && cl[i] != '\t') prog.push_back(cl[i++]);
  }
  argv.push_back(prog);
  for (;;) {
    while (i < n && (cl[i] == ' ' || cl[i] == '\t')) i++;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = cl[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t run = 0;
        while (i < n && cl[i] == '\\') run++, i++;
        if (i < n && cl[i] == '"') {
          arg.append(run / 2, '\\');
          if (run % 2) {
            arg.push_back('"');
            i++;
          }
        } else {
          arg.append(run, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && cl[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          if (!modern) quoted = false;
          continue;
        }
        quoted = !quoted;
        i++;
        continue;
      }
      arg.push_back(c);
      i++;
    }
    argv.push_back(arg);
  }
  return argv;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> words = nul_fields(data, size);
  if (words.size() > 32) words.resize(32);

  // One argument on its own: left as it is when nothing in it needs quotes.
  for (const std::string &w : words) {
    strbuf b = {};
    FUZZ_CHECK(win_quote_arg(&b, w.c_str()) == 0);
    const std::string q = text_of(b);
    strbuf_release(&b);
    if (!w.empty() && w.find_first_of("\t\n\v \"") == std::string::npos) FUZZ_CHECK(q == w);
    for (bool modern : {false, true}) {
      const std::vector<std::string> back = split_command_line("x " + q, modern);
      FUZZ_CHECK(back.size() == 2 && back[1] == w);
    }
  }

  // The whole command line the runner starts git with.
  std::vector<const char *> args;
  for (size_t i = 1; i < words.size(); i++) args.push_back(words[i].c_str());
  args.push_back(nullptr);
  strbuf cl = {};
  build_git_command_line(&cl, words[0].c_str(), args.data());
  const std::string line = text_of(cl);
  strbuf_release(&cl);
  std::vector<std::string> want = {"git", "--no-pager", "-C"};
  want.insert(want.end(), words.begin(), words.end());
  for (bool modern : {false, true}) FUZZ_CHECK(split_command_line(line, modern) == want);
  return 0;
}
