// The Windows process start on its own: arguments, environment, input and
// the two output streams, through run_git_call. Built for Windows only (the
// Linux runner has its own tests in tests/integration).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/error.h"
#include "git/runner.h"
#include "host_env.h"

namespace {

struct Call {
  int rc;
  std::string out, err;
};

Call call(const std::string &root, std::vector<std::string> args, const char *const *env = nullptr,
          bool split = false, const std::string *input = nullptr) {
  std::vector<const char *> argv;
  for (auto &a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const git_call c = {argv.data(), input ? input->data() : nullptr, input ? input->size() : 0, env, split};
  git_output res;
  Call r;
  r.rc = run_git_call(root.c_str(), &c, &res);
  if (res.out) r.out.assign(res.out, res.out_len);
  if (res.err) r.err.assign(res.err, res.err_len);
  git_output_release(&res);
  return r;
}

// git's shell quoting of one argument, as rev-parse --sq-quote prints it.
std::string sq(const std::string &a) {
  std::string out = " '";
  for (char c : a) {
    if (c == '\'' || c == '!')
      out += std::string("'\\") + c + "'";
    else
      out += c;
  }
  return out + "'";
}

class GitCall : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_ / "r\xc3\xa9po \xe2\x9c\x93";
    host::make_dirs(root_);
    ASSERT_EQ(call(root_, {"init", "-q"}).rc, 0) << wikidb_last_error_text();
  }
  static std::string wikidb_last_error_text() {
    char saved[WIKIDB_ERROR_CAP];
    save_error(saved);
    return saved;
  }
  host::TempDir tmp_;
  std::string root_;
};

TEST_F(GitCall, ArgumentsArriveByteExact) {
  // Blanks, quotes, backslash runs before quotes and at the end, what a
  // Windows shell would expand, and text no single-byte code page holds.
  const std::vector<std::string> nasty = {
      "plain", " ", "a b", "\t", "\"", "\\", "\\\\", "\\\"", "a\\\\\"b", "end\\", "end\\\\", "sp ace\\",
      "\"\"", "q\"\"q", "\\\\server\\share dir\\", "tab\there", "new\nline", "%PATH%", "^&|<>",
      "x\\\\\\\"y z", "--format=format:%H%x1f%an", "\xc3\xa9t\xc3\xa9 page", "\xe2\x9c\x93\xe6\x97\xa5",
      "\xf0\x9f\x98\x80 emoji", "C:\\Program Files\\", "'single'", "a=b", "-", "--", "@{u}", "{}",
  };
  std::vector<std::string> args = {"rev-parse", "--sq-quote"};
  args.insert(args.end(), nasty.begin(), nasty.end());
  Call r = call(root_, args);
  ASSERT_EQ(r.rc, 0) << r.out;
  std::string want;
  for (auto &a : nasty) want += sq(a);
  EXPECT_EQ(r.out, want + "\n");
}

TEST_F(GitCall, ExtraEntriesReplaceTheHostsInAnyLetterCase) {
  // Windows names are case-blind: the host's "Git_Author_Name" is the same
  // variable as the entry the call sets, and must give way to it.
  host::set_env("Git_Author_Name", "Host");
  host::set_env("GIT_DIR", (tmp_ / "elsewhere").c_str());
  const char *env[] = {"GIT_AUTHOR_NAME=Zo\xc3\xab \xc3\x85", "GIT_AUTHOR_EMAIL=zoe@example.org", nullptr};
  Call r = call(root_, {"var", "GIT_AUTHOR_IDENT"}, env);
  host::set_env("Git_Author_Name", nullptr);
  host::set_env("GIT_DIR", nullptr);
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.out.rfind("Zo\xc3\xab \xc3\x85 <zoe@example.org> ", 0), 0u) << r.out;
}

TEST_F(GitCall, StandardErrorKeptApartOrJoined) {
  Call split = call(root_, {"cat-file", "-p", "no-such-ref"}, nullptr, true);
  EXPECT_NE(split.rc, 0);
  EXPECT_EQ(split.out, "");
  EXPECT_NE(split.err.find("no-such-ref"), std::string::npos) << split.err;
  Call joined = call(root_, {"cat-file", "-p", "no-such-ref"});
  EXPECT_NE(joined.rc, 0);
  EXPECT_EQ(joined.err, "");
  EXPECT_NE(joined.out.find("no-such-ref"), std::string::npos) << joined.out;
}

TEST_F(GitCall, LargeInputReachesGitWhole) {
  // Larger than any pipe buffer, so writing and reading must overlap.
  std::string text;
  for (int i = 0; text.size() < 300000; i++) text += std::to_string(i) + " \xc3\xa9\xe2\x9c\x93\r\n";
  Call stored = call(root_, {"hash-object", "-w", "--stdin"}, nullptr, true, &text);
  ASSERT_EQ(stored.rc, 0) << stored.err;
  ASSERT_EQ(stored.out.size(), 41u) << stored.out;
  Call back = call(root_, {"cat-file", "blob", stored.out.substr(0, 40)}, nullptr, true);
  ASSERT_EQ(back.rc, 0) << back.err;
  EXPECT_TRUE(back.out == text) << "read back " << back.out.size() << " of " << text.size() << " bytes";
}

}  // namespace
