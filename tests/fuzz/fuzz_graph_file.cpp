// The commit-graph file reader: the chunk table and the filter index on any
// bytes, against a plain reading; the index read in pieces agrees with the
// index read whole.
#include "fuzz_support.h"
#include "git/graph_file.h"

static uint32_t ref_be32(const std::vector<unsigned char> &d, size_t at) {
  return (uint32_t)d[at] << 24 | (uint32_t)d[at + 1] << 16 | (uint32_t)d[at + 2] << 8 | d[at + 3];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Exactly the bytes given: a read past them is the sanitizer's to catch.
  std::vector<unsigned char> head(data, data + (size < (size_t)GRAPH_HEAD_CAP ? size : (size_t)GRAPH_HEAD_CAP));
  uint64_t offset = 1, length = 1;
  const bool ok = graph_filter_index(head.data(), head.size(), &offset, &length);
  bool ref_ok = head.size() >= 8 && memcmp(head.data(), "CGPH", 4) == 0 && head[4] == 1 &&
                8 + ((size_t)head[6] + 1) * 12 <= head.size();
  uint64_t ref_offset = 0, ref_length = 0;
  if (ref_ok) {
    for (unsigned i = 0; i < head[6]; i++) {
      const size_t e = 8 + (size_t)i * 12;
      if (memcmp(head.data() + e, "BIDX", 4) != 0) continue;
      const uint64_t start = (uint64_t)ref_be32(head, e + 4) << 32 | ref_be32(head, e + 8);
      const uint64_t end = (uint64_t)ref_be32(head, e + 16) << 32 | ref_be32(head, e + 20);
      if (start < 8 || end < start) {
        ref_ok = false;
      } else {
        ref_offset = start;
        ref_length = end - start;
      }
      break;
    }
  }
  FUZZ_CHECK(ok == ref_ok);
  if (ok) FUZZ_CHECK(offset == ref_offset && length == ref_length);

  // The whole input as an index chunk, then in two pieces at an entry edge.
  std::vector<unsigned char> index(data, data + size);
  bool ref_complete = size % 4 == 0;
  for (size_t i = 0, prev = 0; ref_complete && i < size; i += 4) {
    const uint32_t v = ref_be32(index, i);
    ref_complete = v > prev;
    prev = v;
  }
  uint32_t previous = 0;
  FUZZ_CHECK(graph_filters_complete(index.data(), index.size(), &previous) == ref_complete);
  if (size % 4 == 0 && size >= 4) {
    const size_t cut = (size / 2) & ~(size_t)3;
    std::vector<unsigned char> a(data, data + cut), b(data + cut, data + size);
    previous = 0;
    const bool pieces = graph_filters_complete(a.data(), a.size(), &previous) &&
                        graph_filters_complete(b.data(), b.size(), &previous);
    FUZZ_CHECK(pieces == ref_complete);
  }
  return 0;
}
