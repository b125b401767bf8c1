// Raw git trees as cat-file prints them, from any bytes: the parser either
// refuses them or gives entries that the builder writes back into a tree
// holding the same entries, in git's order, which parses again.
#include <string.h>

#include <algorithm>
#include <tuple>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "write/tree_edit.h"

namespace {

struct plain_entry {
  std::string mode, name, hash;
  bool operator<(const plain_entry &o) const {
    return std::tie(name, mode, hash) < std::tie(o.name, o.mode, o.hash);
  }
  bool operator==(const plain_entry &o) const {
    return name == o.name && mode == o.mode && hash == o.hash;
  }
};

std::vector<plain_entry> plain(const raw_tree_entry *e, size_t n) {
  std::vector<plain_entry> out;
  for (size_t i = 0; i < n; i++)
    out.push_back({std::string(e[i].mode, e[i].mode_len), std::string(e[i].name, e[i].name_len),
                   std::string(reinterpret_cast<const char *>(e[i].hash), 20)});
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  raw_tree_entry *entries = nullptr;
  size_t n = 0;
  if (tree_parse(reinterpret_cast<const char *>(data), size, 20, &entries, &n) != 0) return 0;
  for (size_t i = 0; i < n; i++) {
    FUZZ_CHECK(entries[i].mode_len > 0 && entries[i].name_len > 0);
    FUZZ_CHECK(!memchr(entries[i].name, 0, entries[i].name_len));
  }
  strbuf built = {};
  FUZZ_CHECK(tree_build(entries, n, nullptr, 0, 20, &built) == 0);
  FUZZ_CHECK(built.len == size);
  raw_tree_entry *again = nullptr;
  size_t n2 = 0;
  FUZZ_CHECK(tree_parse(built.data ? built.data : "", built.len, 20, &again, &n2) == 0);
  FUZZ_CHECK(n2 == n);
  std::vector<plain_entry> a = plain(entries, n), b = plain(again, n2);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  FUZZ_CHECK(a == b);
  // Built once, the order is git's: building again changes nothing.
  strbuf twice = {};
  FUZZ_CHECK(tree_build(again, n2, nullptr, 0, 20, &twice) == 0);
  FUZZ_CHECK(twice.len == built.len && (!built.len || !memcmp(twice.data, built.data, built.len)));
  strbuf_release(&twice);
  strbuf_release(&built);
  free(entries);
  free(again);
  return 0;
}
