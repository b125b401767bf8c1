#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "git/graph_file.h"

namespace {

void put32(std::vector<unsigned char> &d, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) d.push_back((unsigned char)(v >> s));
}

// A graph file's head: header, then a table of (id, offset) entries and the
// closing one.
std::vector<unsigned char> head(const std::vector<std::pair<std::string, uint64_t>> &chunks, uint64_t end) {
  std::vector<unsigned char> d = {'C', 'G', 'P', 'H', 1, 1, (unsigned char)chunks.size(), 0};
  for (const auto &c : chunks) {
    d.insert(d.end(), c.first.begin(), c.first.end());
    put32(d, (uint32_t)(c.second >> 32));
    put32(d, (uint32_t)c.second);
  }
  put32(d, 0);  // the closing entry: no id, the end of the last chunk
  put32(d, 0);
  put32(d, (uint32_t)end);
  return d;
}

}  // namespace

TEST(GraphFile, FindsTheFilterIndex) {
  uint64_t off = 9, size = 9;
  auto d = head({{"OIDF", 100}, {"BIDX", 300}, {"BDAT", 340}}, 400);
  ASSERT_TRUE(graph_filter_index(d.data(), d.size(), &off, &size));
  EXPECT_EQ(off, 300u);
  EXPECT_EQ(size, 40u);
  // The last chunk ends at the closing entry.
  d = head({{"OIDF", 100}, {"BIDX", 300}}, 360);
  ASSERT_TRUE(graph_filter_index(d.data(), d.size(), &off, &size));
  EXPECT_EQ(size, 60u);
  // No filters at all.
  d = head({{"OIDF", 100}, {"CDAT", 300}}, 360);
  ASSERT_TRUE(graph_filter_index(d.data(), d.size(), &off, &size));
  EXPECT_EQ(off, 0u);
}

TEST(GraphFile, RefusesWhatIsNoGraph) {
  uint64_t off, size;
  auto d = head({{"BIDX", 300}}, 360);
  EXPECT_FALSE(graph_filter_index(d.data(), 7, &off, &size)) << "cut header";
  EXPECT_FALSE(graph_filter_index(d.data(), d.size() - 1, &off, &size)) << "cut table";
  auto bad = d;
  bad[0] = 'X';
  EXPECT_FALSE(graph_filter_index(bad.data(), bad.size(), &off, &size));
  bad = d;
  bad[4] = 2;
  EXPECT_FALSE(graph_filter_index(bad.data(), bad.size(), &off, &size)) << "unknown version";
  bad = head({{"BIDX", 300}}, 200);
  EXPECT_FALSE(graph_filter_index(bad.data(), bad.size(), &off, &size)) << "ends before it starts";
  bad = head({{"BIDX", 4}}, 200);
  EXPECT_FALSE(graph_filter_index(bad.data(), bad.size(), &off, &size)) << "inside the header";
}

TEST(GraphFile, CompleteOnlyWhenEveryCommitHasAFilter) {
  std::vector<unsigned char> idx;
  for (uint32_t v : {8u, 16u, 17u, 30u}) put32(idx, v);
  uint32_t prev = 0;
  EXPECT_TRUE(graph_filters_complete(idx.data(), idx.size(), &prev));
  EXPECT_EQ(prev, 30u);
  // In two pieces, the second carrying on from the first.
  prev = 0;
  EXPECT_TRUE(graph_filters_complete(idx.data(), 8, &prev));
  EXPECT_TRUE(graph_filters_complete(idx.data() + 8, 8, &prev));
  prev = 16;  // a piece that starts where the last commit of the one before ended
  EXPECT_FALSE(graph_filters_complete(idx.data() + 4, 4, &prev)) << "16 after 16: no filter";
  std::vector<unsigned char> first_empty;
  put32(first_empty, 0);
  put32(first_empty, 8);
  prev = 0;
  EXPECT_FALSE(graph_filters_complete(first_empty.data(), first_empty.size(), &prev));
  prev = 0;
  EXPECT_FALSE(graph_filters_complete(idx.data(), 6, &prev)) << "no whole number of entries";
}
