// merge-tree's output and the sync's conflict record, from any bytes: each
// parser refuses them or gives fields that lie inside the input, and what it
// gives, written back in the same form, parses to the same thing.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sync/merge_tree.h"
#include "sync/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  merge_tree_result res;
  if (parse_merge_tree(text, size, &res) == 0) {
    size_t hl = strlen(res.tree);
    FUZZ_CHECK((hl == 40 || hl == 64) && memcmp(res.tree, text, hl) == 0);
    std::string again(res.tree, hl + 1);
    for (size_t i = 0; i < res.n_paths; i++) {
      FUZZ_CHECK(res.paths[i][0] != '\0');
      for (size_t j = 0; j < i; j++) FUZZ_CHECK(strcmp(res.paths[i], res.paths[j]) != 0);
      again.append(res.paths[i], strlen(res.paths[i]) + 1);
    }
    merge_tree_result res2;
    FUZZ_CHECK(parse_merge_tree(again.data(), again.size(), &res2) == 0);
    FUZZ_CHECK(res2.n_paths == res.n_paths && !strcmp(res2.tree, res.tree));
    for (size_t i = 0; i < res.n_paths; i++) FUZZ_CHECK(!strcmp(res.paths[i], res2.paths[i]));
    merge_tree_release(&res2);
    merge_tree_release(&res);
  } else {
    FUZZ_CHECK(res.n_paths == 0 && res.paths == nullptr);
  }

  record_entry *rec = nullptr;
  size_t n = 0;
  if (record_parse(text, size, &rec, &n) == 0) {
    strbuf back = {};
    for (size_t i = 0; i < n; i++) {
      for (const char *f : {rec[i].path, rec[i].ours, rec[i].theirs, rec[i].resolved})
        FUZZ_CHECK(f >= text && f < text + size);
      FUZZ_CHECK(record_append(&back, rec[i].path, rec[i].ours, rec[i].theirs, rec[i].resolved) == 0);
    }
    // A record parses whole: written back, it is the input byte for byte.
    FUZZ_CHECK(back.len == size && (!size || memcmp(back.data, text, size) == 0));
    strbuf_release(&back);
  } else {
    FUZZ_CHECK(rec == nullptr && n == 0);
  }
  free(rec);
  return 0;
}
