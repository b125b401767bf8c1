#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "frame/error.h"
#include "frame/strbuf.h"
#include "wikidb.h"

TEST(Strbuf, GrowsByDoublingFrom256) {
  strbuf b = {};
  std::string bytes(300, 'x');

  ASSERT_EQ(strbuf_append(&b, bytes.data(), 255), 0);  // 256 with the terminator
  EXPECT_EQ(b.cap, 256u);
  strbuf_release(&b);

  ASSERT_EQ(strbuf_append(&b, bytes.data(), 300), 0);
  EXPECT_EQ(b.cap, 512u);
  EXPECT_EQ(b.len, 300u);
  EXPECT_EQ(b.data[300], '\0');
  strbuf_release(&b);

  ASSERT_EQ(strbuf_append(&b, bytes.data(), 200), 0);
  ASSERT_EQ(b.cap, 256u);
  ASSERT_EQ(strbuf_append(&b, bytes.data(), 55), 0);  // needs exactly 256
  EXPECT_EQ(b.cap, 256u);
  ASSERT_EQ(strbuf_append(&b, bytes.data(), 1), 0);  // needs 257
  EXPECT_EQ(b.cap, 512u);
  EXPECT_EQ(b.len, 256u);
  strbuf_release(&b);
}

TEST(Strbuf, EmptyAppendStillAllocatesAndTerminates) {
  strbuf b = {};
  ASSERT_EQ(strbuf_append(&b, "", 0), 0);
  ASSERT_NE(b.data, nullptr);
  EXPECT_EQ(b.cap, 256u);
  EXPECT_STREQ(b.data, "");
  strbuf_release(&b);
  EXPECT_EQ(b.data, nullptr);
}

TEST(Strbuf, KeepsEveryByteValue) {
  strbuf b = {};
  const char bytes[] = {'a', '\0', 'b', '\xff'};
  ASSERT_EQ(strbuf_append(&b, bytes, sizeof bytes), 0);
  EXPECT_EQ(b.len, 4u);
  EXPECT_EQ(memcmp(b.data, bytes, 4), 0);
  EXPECT_EQ(b.data[4], '\0');
  strbuf_release(&b);
}

TEST(Strbuf, OverflowingSizeFailsAndLeavesBufferAlone) {
  strbuf b = {};
  ASSERT_EQ(strbuf_append(&b, "abc", 3), 0);
  char *data = b.data;
  EXPECT_EQ(strbuf_append(&b, "x", SIZE_MAX - 2), -1);
  EXPECT_EQ(strbuf_append(&b, "x", SIZE_MAX), -1);
  EXPECT_EQ(b.data, data);
  EXPECT_EQ(b.len, 3u);
  EXPECT_EQ(b.cap, 256u);
  EXPECT_STREQ(b.data, "abc");
  // A capacity that can no longer double is refused too.
  strbuf huge = {data, 3, SIZE_MAX / 2 + 2};
  EXPECT_EQ(strbuf_append(&huge, "x", SIZE_MAX / 2), -1);
  strbuf_release(&b);
}

TEST(ErrorSlot, CutsAt2047Bytes) {
  std::string long_text(5000, 'm');
  set_error("%s", long_text.c_str());
  EXPECT_EQ(strlen(wikidb_last_error()), 2047u);
  EXPECT_EQ(std::string(wikidb_last_error()), long_text.substr(0, 2047));
  clear_error();
  EXPECT_STREQ(wikidb_last_error(), "");
}

TEST(ErrorSlot, CutNeverSplitsAUtf8Character) {
  // Each width of character, with each of its bytes landing on the cut.
  for (const std::string c : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
    for (size_t shift = 0; shift < 4; shift++) {
      std::string text(2047 - shift, 'x');
      for (int i = 0; i < 4; i++) text += c;
      set_error("%s", text.c_str());
      const std::string got = wikidb_last_error();
      EXPECT_EQ(got, text.substr(0, 2047 - shift + (shift / c.size()) * c.size()))
          << c.size() << " " << shift;
    }
  }
  // A message that fits is never touched, whole characters or not.
  set_error("%s", "ab\xc3");
  EXPECT_STREQ(wikidb_last_error(), "ab\xc3");
  // Bytes that are not UTF-8 are cut by bytes as before.
  const std::string junk(3000, '\x80');
  set_error("%s", junk.c_str());
  EXPECT_EQ(std::string(wikidb_last_error()), junk.substr(0, 2047));
  clear_error();
}

TEST(ErrorSlot, SaveAndRestoreKeepTheMessage) {
  set_error("first %lu", 7ul);
  char saved[WIKIDB_ERROR_CAP];
  save_error(saved);
  set_error("second");
  restore_error(saved);
  EXPECT_STREQ(wikidb_last_error(), "first 7");
}

TEST(Version, IsStaticAndStable) {
  EXPECT_STREQ(wikidb_version(), WIKIDB_VERSION_TEXT);
  EXPECT_EQ(wikidb_version(), wikidb_version());
  set_error("kept");
  wikidb_version();
  wikidb_last_error();
  EXPECT_STREQ(wikidb_last_error(), "kept");
}
