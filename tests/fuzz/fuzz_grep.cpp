// git grep -z output and search terms from any bytes: hits read back as
// JSON with their page, numbers and (cut) text; folding is idempotent and a
// term's pattern escapes every special byte.
#include "fuzz_support.h"
#include "reports/fold.h"
#include "reports/parse_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const char *p = text, *end = text + size;
  grep_hit hit;
  strbuf out = {}, scratch = {};
  size_t pages = 0;
  while (next_grep_hit(&p, end, &hit)) {
    FUZZ_CHECK(hit.line >= 0 && hit.column >= 0);
    FUZZ_CHECK(hit.text.p >= text && hit.text.p + hit.text.n <= end);
    const size_t before = out.len;
    if (pages) strbuf_append(&out, ",", 1);
    if (append_hit_json(&out, &scratch, hit, 64)) {
      pages++;
    } else {
      out.len = before;
      if (out.data) out.data[before] = '\0';
    }
  }
  std::string json = "[" + text_of(out) + "]";
  if (json.find('\0') == std::string::npos) {
    jvalue v;
    check_report_json(json, &v);
    FUZZ_CHECK(v.items.size() == pages);
    for (const jvalue &e : v.items) {
      FUZZ_CHECK(has_keys(e, {"page", "line", "column", "text"}));
      FUZZ_CHECK(e.members[3].second.str.size() <= 64);
    }
  }
  strbuf_release(&out);
  strbuf_release(&scratch);

  const std::string term = text_part(data, size);
  strbuf once = {}, twice = {}, pattern = {};
  FUZZ_CHECK(fold_text(term.data(), term.size(), &once));
  FUZZ_CHECK(fold_text(once.data, once.len, &twice));
  FUZZ_CHECK(text_of(once) == text_of(twice));
  FUZZ_CHECK(term_pattern(term.c_str(), &pattern));
  // Outside the alternations it adds, no special byte stands unescaped.
  const std::string pat = text_of(pattern);
  int depth = 0;
  for (size_t i = 0; i < pat.size(); i++) {
    char c = pat[i];
    if (c == '\\') {
      FUZZ_CHECK(i + 1 < pat.size());
      i++;
      continue;
    }
    if (c == '(') depth++;
    else if (c == ')') depth--;
    else if (c == '|') FUZZ_CHECK(depth == 1);
    else FUZZ_CHECK(!strchr("^$.[]*+?{}", c));
    FUZZ_CHECK(depth >= 0 && depth <= 1);
  }
  FUZZ_CHECK(depth == 0);
  strbuf_release(&once);
  strbuf_release(&twice);
  strbuf_release(&pattern);
  return 0;
}
