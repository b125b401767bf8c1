// The ls-tree record reader on any bytes: it never reads past the text,
// always moves forward, and every entry it returns has the record's shape.
#include "fuzz_support.h"
#include "store/tree_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that a read past the end is caught.
  std::vector<char> text(data, data + size);
  const char *begin = text.empty() ? nullptr : text.data();
  size_t pos = 0;
  tree_entry e;
  while (next_tree_entry(begin, size, &pos, &e)) {
    FUZZ_CHECK(pos <= size);
    FUZZ_CHECK(e.path >= begin && e.path + e.path_len <= begin + size);
    FUZZ_CHECK(e.path_len > 0 && !memchr(e.path, 0, e.path_len));
    FUZZ_CHECK(*e.mode && *e.type && *e.hash);
    FUZZ_CHECK(strspn(e.hash, "0123456789abcdef") == strlen(e.hash));
    FUZZ_CHECK(!strchr(e.mode, ' ') && !strchr(e.type, ' '));
  }
  return 0;
}
