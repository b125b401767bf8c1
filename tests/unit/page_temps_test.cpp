// The temporary files of the atomic page write, told apart by name and
// removed by the repair, on each platform's own file calls.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "store/fs.h"

namespace fs = std::filesystem;

TEST(PageTemps, NamesOfTheWritersTemporaryFiles) {
  for (const char *yes :
       {".wikidb-1-0.tmp", ".wikidb-4242-17.tmp", ".wikidb-99999999-4294967295.tmp"})
    EXPECT_TRUE(pagefs_is_temp_name(yes)) << yes;
  for (const char *no : {"", ".wikidb-", ".wikidb--1.tmp", ".wikidb-1-.tmp", ".wikidb-x-1.tmp",
                         ".wikidb-1-2.tmp.keep", ".wikidb-1-2.tm", "wikidb-1-2.tmp", "A.wiki",
                         ".wikidb-1-2-3.tmp", ".wikidb-1.tmp", ".WIKIDB-1-2.tmp"})
    EXPECT_FALSE(pagefs_is_temp_name(no)) << no;
}

TEST(PageTemps, RemovedBesideTheJournalledPageOnly) {
  std::error_code ec;
  // A name of its own: the clock's count differs between runs side by side.
  const fs::path root =
      fs::temp_directory_path(ec) /
      ("wikidb-temps-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::remove_all(root, ec);
  ASSERT_TRUE(fs::create_directories(root / "pages" / "dir", ec)) << ec.message();
  auto put = [&](const fs::path &p) { std::ofstream(p, std::ios::binary) << "x"; };
  for (const char *name :
       {".wikidb-12-0.tmp", ".wikidb-12-1.tmp", "A.wiki", "keep.tmp", ".wikidb-a-1.tmp"})
    put(root / "pages" / "dir" / name);
  put(root / "pages" / ".wikidb-3-3.tmp");  // another directory's: not this page's
  pagefs_remove_temps(root.u8string().c_str(), "pages/dir/A.wiki");
  EXPECT_FALSE(fs::exists(root / "pages" / "dir" / ".wikidb-12-0.tmp"));
  EXPECT_FALSE(fs::exists(root / "pages" / "dir" / ".wikidb-12-1.tmp"));
  for (const char *name : {"A.wiki", "keep.tmp", ".wikidb-a-1.tmp"})
    EXPECT_TRUE(fs::exists(root / "pages" / "dir" / name)) << name;
  EXPECT_TRUE(fs::exists(root / "pages" / ".wikidb-3-3.tmp"));
  // A directory that is not there: nothing to do, nothing reported.
  pagefs_remove_temps(root.u8string().c_str(), "pages/none/B.wiki");
  fs::remove_all(root, ec);
}
