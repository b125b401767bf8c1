// The in-memory parts of the write API's commits: object names, the zlib
// framing of packs, and raw trees edited in git's order.
#include <gtest/gtest.h>

#include <string>

#include "write/objects.h"
#include "write/sha1.h"
#include "write/tree_edit.h"

namespace {

std::string hex_of(const unsigned char *raw, size_t n) {
  char hex[HASH_HEX_CAP];
  hash_to_hex(raw, n, hex);
  return hex;
}

std::string sha1_hex(const std::string &data, size_t chunk) {
  sha1_ctx c;
  sha1_init(&c);
  for (size_t at = 0; at < data.size(); at += chunk)
    sha1_update(&c, data.data() + at, std::min(chunk, data.size() - at));
  unsigned char out[20];
  sha1_final(&c, out);
  return hex_of(out, 20);
}

TEST(WriteObjects, Sha1MatchesKnownDigestsWhateverTheChunking) {
  EXPECT_EQ(sha1_hex("", 1), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1_hex("abc", 1), "a9993e364706816aba3e25717850c26c9cd0d89d");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (size_t chunk : {1u, 7u, 64u, 1000u})
    EXPECT_EQ(sha1_hex(two_blocks, chunk), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha1_hex(std::string(1000000, 'a'), 4096), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(WriteObjects, ObjectNamesAreGits) {
  unsigned char name[20];
  object_name("blob", "hello\n", 6, name);
  EXPECT_EQ(hex_of(name, 20), "ce013625030ba8dba906f756967f9e9ca394464a");
  object_name("tree", "", 0, name);
  EXPECT_EQ(hex_of(name, 20), "4b825dc642cb6eb9a060e54bf8d69288fbee4904");
}

TEST(WriteObjects, ZlibStoredBlocksSplitAt64KiB) {
  for (size_t len : {0u, 1u, 65535u, 65536u, 200000u}) {
    std::string data(len, 'x');
    strbuf out = {};
    ASSERT_EQ(zlib_stored(&out, data.data(), data.size()), 0);
    const size_t blocks = len ? (len + 65534) / 65535 : 1;
    EXPECT_EQ(out.len, 2 + 5 * blocks + len + 4) << len;
    EXPECT_EQ((unsigned char)out.data[0], 0x78);
    // The last block alone carries the final bit.
    EXPECT_EQ(out.data[2], blocks == 1 ? 1 : 0) << len;
    strbuf_release(&out);
  }
}

TEST(WriteObjects, TreesKeepGitsOrderAndRejectGarbage) {
  // "doc" as a directory sorts as "doc/", after "doc.wiki"; a file "doc"
  // sorts before it.
  unsigned char h[20] = {1};
  tree_change adds[] = {{"doc", 3, true, "40000", {}}, {"doc.wiki", 8, true, "100644", {}},
                        {"doc-x.wiki", 10, true, "100644", {}}, {"a", 1, true, "100644", {}}};
  for (auto &c : adds) memcpy(c.hash, h, 20);
  strbuf raw = {};
  ASSERT_EQ(tree_build(nullptr, 0, adds, 4, 20, &raw), 0);
  raw_tree_entry *e = nullptr;
  size_t n = 0;
  ASSERT_EQ(tree_parse(raw.data, raw.len, 20, &e, &n), 0);
  ASSERT_EQ(n, 4u);
  const char *order[] = {"a", "doc-x.wiki", "doc.wiki", "doc"};
  for (size_t i = 0; i < n; i++) EXPECT_EQ(std::string(e[i].name, e[i].name_len), order[i]);
  // Replace one entry, remove another; the rest stays.
  tree_change edit[] = {{"doc.wiki", 8, false, "", {}}, {"a", 1, true, "100755", {}}};
  strbuf again = {};
  ASSERT_EQ(tree_build(e, n, edit, 2, 20, &again), 0);
  raw_tree_entry *e2 = nullptr;
  size_t n2 = 0;
  ASSERT_EQ(tree_parse(again.data, again.len, 20, &e2, &n2), 0);
  ASSERT_EQ(n2, 3u);
  EXPECT_EQ(std::string(e2[0].mode, e2[0].mode_len), "100755");
  EXPECT_EQ(tree_find(e2, n2, "doc.wiki", 8), -1);
  EXPECT_EQ(tree_find(e2, n2, "doc", 3), 2);
  // Cut anywhere, a tree no longer parses.
  for (size_t cut = 1; cut < again.len; cut += 7) {
    raw_tree_entry *bad = nullptr;
    size_t nb = 0;
    int rc = tree_parse(again.data, cut, 20, &bad, &nb);
    if (rc == 0) {
      EXPECT_LT(nb, 3u);
    }
    free(bad);
  }
  free(e);
  free(e2);
  strbuf_release(&raw);
  strbuf_release(&again);
}

}  // namespace
