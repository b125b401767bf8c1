#include <gtest/gtest.h>
#include <string.h>

#include <set>
#include <string>

#include "git/spawn.h"

TEST(ChildEnvironment, RemovedVariablesByNameAndFamily) {
  for (const char *e : {"GIT_TRACE=1", "GIT_TRACE2_EVENT=/tmp/x", "GIT_TRACE_PACKET=1",
                        "GIT_CONFIG_COUNT=1", "GIT_CONFIG_KEY_0=a.b", "GIT_CONFIG_VALUE_12=c",
                        "GIT_CONFIG_PARAMETERS='a.b'='c'", "GIT_EXTERNAL_DIFF=x", "GIT_DIFF_OPTS=-u0",
                        "GIT_AUTHOR_DATE=2001-01-01", "GIT_TEST_FSYNC=0", "GIT_CONFIG=/tmp/c",
                        "GIT_DIR=/x", "GIT_LITERAL_PATHSPECS=0", "GIT_REDIRECT_STDERR=2>&1"})
    EXPECT_TRUE(is_removed_var(e, false)) << e;
  // Identity, the user's own configuration files and anything merely
  // sharing a prefix stay the host's.
  for (const char *e : {"GIT_COMMITTER_NAME=x", "GIT_AUTHOR_NAME=x", "GIT_CONFIG_GLOBAL=/g",
                        "GIT_CONFIG_NOSYSTEM=1", "GIT_DIRECTORY=x", "GIT_CONFIGURED=1", "HOME=/h",
                        "LANG=C", "GIT_TRACE", "XGIT_TRACE=1"})
    EXPECT_FALSE(is_removed_var(e, false)) << e;
  // Windows compares names without case.
  EXPECT_TRUE(is_removed_var("git_trace=1", true));
  EXPECT_TRUE(is_removed_var("Git_Config_Key_0=a", true));
  EXPECT_FALSE(is_removed_var("git_trace=1", false));
}

TEST(ChildEnvironment, PinnedSettingsAreNumberedAsGitReadsThem) {
  // git stops at a missing GIT_CONFIG_KEY_n and fails every command: the
  // count must match keys 0..N-1, each with its value, each key once.
  long count = -1;
  std::set<long> keys, values;
  std::set<std::string> names;
  for (const char *const *e = g_git_profile_env; *e; e++) {
    long n = 0;
    char name[128];
    if (sscanf(*e, "GIT_CONFIG_COUNT=%ld", &n) == 1) {
      count = n;
    } else if (sscanf(*e, "GIT_CONFIG_KEY_%ld=%127s", &n, name) == 2) {
      EXPECT_TRUE(keys.insert(n).second) << *e;
      EXPECT_TRUE(names.insert(name).second) << "pinned twice: " << name;
    } else if (sscanf(*e, "GIT_CONFIG_VALUE_%ld=", &n) == 1 && strchr(*e, '=')) {
      EXPECT_TRUE(values.insert(n).second) << *e;
    }
    // Every entry the library adds is one it would otherwise remove.
    EXPECT_TRUE(is_removed_var(*e, false)) << *e;
  }
  ASSERT_GT(count, 0);
  EXPECT_EQ((long)keys.size(), count);
  EXPECT_EQ(keys, values);
  EXPECT_EQ(*keys.rbegin(), count - 1);
  for (const char *must : {"core.fsync", "maintenance.auto", "commit.cleanup", "i18n.logOutputEncoding"})
    EXPECT_EQ(names.count(must), 1u) << must;
}
