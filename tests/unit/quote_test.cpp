#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "git/quote.h"
#include "git/spawn.h"

// The argument splitting rules of the Windows C runtime (CommandLineToArgvW
// for arguments after the program name): the other side of win_quote_arg.
static std::vector<std::string> split_windows(const std::string &line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) i++;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') slashes++, i++;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            i++;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {  // "" inside quotes is a literal quote
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        i++;
      } else {
        arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

static std::string quoted(const char *arg) {
  strbuf b = {};
  EXPECT_EQ(win_quote_arg(&b, arg), 0);
  std::string out = b.data ? b.data : "";
  strbuf_release(&b);
  return out;
}

TEST(WinQuote, PlainArgumentsStandUnchanged) {
  EXPECT_EQ(quoted("0123abcdef"), "0123abcdef");
  EXPECT_EQ(quoted("C:\\wiki\\pages\\a.wiki"), "C:\\wiki\\pages\\a.wiki");
  EXPECT_EQ(quoted("cr\rff\f"), "cr\rff\f");
}

TEST(WinQuote, TheDocumentedForms) {
  EXPECT_EQ(quoted(""), "\"\"");
  EXPECT_EQ(quoted("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(quoted("x y\\"), "\"x y\\\\\"");
  EXPECT_EQ(quoted("C:\\My Wiki\\root"), "\"C:\\My Wiki\\root\"");
}

TEST(WinQuote, EveryNastyArgumentSurvivesTheRoundTrip) {
  const std::vector<std::string> nasty = {
      "",        " ",         "\t",          "a b",          "\"",          "\\",
      "\\\\",    "\\\"",      "a\\\\\"b",    "end\\",        "end\\\\",     "sp ace\\",
      "\"\"",    "q\"\"q",    "\\\\server\\share dir\\", "tab\there", "new\nline", "v\vt",
      "--format=format:%H%x1f%an", "pages/dq\"q.wiki", "x\\\\\\\"y z",  "\xc3\xa9t\xc3\xa9 page",
  };
  strbuf line = {};
  std::vector<const char *> argv;
  for (auto &a : nasty) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  build_git_command_line(&line, "C:\\wiki root\\", argv.data());
  std::vector<std::string> back = split_windows(line.data);
  strbuf_release(&line);

  ASSERT_EQ(back.size(), nasty.size() + 4);
  EXPECT_EQ(back[0], "git");
  EXPECT_EQ(back[1], "--no-pager");
  EXPECT_EQ(back[2], "-C");
  EXPECT_EQ(back[3], "C:\\wiki root\\");
  for (size_t i = 0; i < nasty.size(); i++) EXPECT_EQ(back[i + 4], nasty[i]) << "argument " << i;
}

// The variables kept from git's environment, by exact name only, and by
// name in any letter case where the system treats names so.
TEST(ChildEnvironment, RedirectingVariablesAreKnownByNameAlone) {
  EXPECT_TRUE(is_redirect_var("GIT_DIR=/elsewhere", false));
  EXPECT_TRUE(is_redirect_var("GIT_WORK_TREE=", false));
  EXPECT_TRUE(is_redirect_var("GIT_GLOB_PATHSPECS=1", false));
  EXPECT_FALSE(is_redirect_var("GIT_DIRECTORY=/x", false));  // a longer name
  EXPECT_FALSE(is_redirect_var("GIT_DI=/x", false));         // a shorter one
  EXPECT_FALSE(is_redirect_var("GIT_DIR", false));           // no value sign
  EXPECT_FALSE(is_redirect_var("GIT_AUTHOR_NAME=Ann", false));
  EXPECT_FALSE(is_redirect_var("git_dir=/x", false));
  EXPECT_TRUE(is_redirect_var("git_dir=/x", true));
  EXPECT_TRUE(is_redirect_var("Git_Index_File=i", true));
  EXPECT_FALSE(is_redirect_var("git_dirx=/x", true));
}
