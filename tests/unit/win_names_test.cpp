#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "store/win_names.h"

TEST(Utf8, WellFormedTextPasses) {
  for (const char *ok : {"", "plain ASCII", "Caf\xc3\xa9", "\xe2\x9c\x93 check", "\xf0\x9f\x98\x80",
                         "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf", "\xee\x80\x80",
                         "\xef\xbf\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf"})
    EXPECT_TRUE(utf8_valid(ok)) << ok;
}

TEST(Utf8, MalformedTextIsRefused) {
  for (const char *bad : {
           "\x80",              // a continuation byte first
           "Caf\xe9",           // Latin-1, not UTF-8
           "\xc3",              // cut at the end
           "\xc3(",             // continuation missing
           "\xe2\x9c",          // three-byte form cut short
           "\xc0\xaf",          // overlong '/'
           "\xc1\xbf",          // overlong
           "\xe0\x80\xaf",      // overlong three-byte
           "\xf0\x80\x80\xaf",  // overlong four-byte
           "\xed\xa0\x80",      // a UTF-16 surrogate
           "\xed\xbf\xbf",      // the last surrogate
           "\xf4\x90\x80\x80",  // above U+10FFFF
           "\xf5\x80\x80\x80", "\xfe", "\xff",
       })
    EXPECT_FALSE(utf8_valid(bad)) << bad;
}

TEST(WindowsNames, OrdinaryNamesAreAllowed) {
  for (const char *ok : {"Home", "a.b", ".hidden", "..a", " lead", "x y", "Caf\xc3\xa9", "CONSOLE",
                         "CON1", "COM0", "COM10", "LPT", "nul_", "aux-x", "x.con", "COM1x.txt",
                         "COM\xc2\xb4", "a#b%c&d", "[x]", "~1", "\x7f"})
    EXPECT_TRUE(win_component_allowed(ok, strlen(ok))) << ok;
}

TEST(WindowsNames, CharactersWindowsCannotStoreAreRefused) {
  for (const char *c : {"\"", "*", ":", "<", ">", "?", "|"}) {
    const std::string name = std::string("a") + c + "b";
    EXPECT_FALSE(win_component_allowed(name.data(), name.size())) << name;
  }
  for (int c = 1; c < 0x20; c++) {
    const std::string name = std::string("a") + (char)c;
    EXPECT_FALSE(win_component_allowed(name.data(), name.size())) << c;
  }
}

TEST(WindowsNames, NamesWindowsWouldShortenAreRefused) {
  // A final dot or blank is dropped by Windows: "d." is "d" there.
  for (const char *bad : {"d.", "d..", "d ", "d. ", "d .", "...", "."})
    EXPECT_FALSE(win_component_allowed(bad, strlen(bad))) << bad;
}

TEST(WindowsNames, DeviceNamesInAnyCaseWithAnyExtension) {
  for (const char *bad : {"CON", "con", "Prn", "aux", "NUL", "nul.txt", "CON.wiki", "con .x",
                          "COM1", "com9", "LPT1", "lpt5.tar.gz", "COM\xc2\xb9", "lpt\xc2\xb2",
                          "COM\xc2\xb3.x"})
    EXPECT_FALSE(win_component_allowed(bad, strlen(bad))) << bad;
}

TEST(WindowsNames, EveryComponentOfATitleCounts) {
  EXPECT_TRUE(win_title_allowed("Home"));
  EXPECT_TRUE(win_title_allowed("a/b\\c"));
  EXPECT_TRUE(win_title_allowed("Caf\xc3\xa9/cr\xc3\xa8me br\xc3\xbbl\xc3\xa9""e"));
  for (const char *bad : {"d./e", "a/b.", "aux/x", "x/NUL", "a\\con\\b", "a/b|c", "q?/r",
                          "C:/x", "x/y:stream", "tab\t/x", "sp /x"})
    EXPECT_FALSE(win_title_allowed(bad)) << bad;
}
