// git blame --porcelain and diff hunk headers from any bytes: every parsed
// line becomes a JSON object that reads back, with its text; a line
// is mapped back only by a hunk header.
#include "fuzz_support.h"
#include "reports/parse_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  blame_result r;
  if (parse_blame(text, size, &r)) {
    strbuf out = {}, scratch = {};
    strbuf_append(&out, "[", 1);
    for (size_t i = 0; i < r.n_lines; i++) {
      FUZZ_CHECK(r.lines[i].commit < r.n_commits);
      if (i) strbuf_append(&out, ",", 1);
      append_blame_line(&out, r, r.lines[i], (long)i + 1, &scratch);
    }
    strbuf_append(&out, "]", 1);
    // Texts may hold 0 bytes from the input, which the writer keeps: check
    // only outputs without them.
    std::string json = text_of(out);
    if (json.find('\0') == std::string::npos) {
      jvalue v;
      check_report_json(json, &v);
      FUZZ_CHECK(v.items.size() == r.n_lines);
      for (size_t i = 0; i < r.n_lines; i++)
        FUZZ_CHECK(v.items[i].members.back().second.str ==
                   std::string(r.lines[i].text.p, r.lines[i].text.n));
    }
    strbuf_release(&out);
    strbuf_release(&scratch);
  }
  blame_result_release(&r);
  // Without a hunk header every line stays where it is.
  const bool hunks = std::string(text, size).find("@@ -") != std::string::npos;
  for (long line : {1L, 2L, 7L, 1000L}) {
    long back = map_line_back(text, size, line);
    if (!hunks) FUZZ_CHECK(back == line);
  }
  return 0;
}
