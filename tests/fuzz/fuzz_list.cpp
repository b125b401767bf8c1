// The page-list parser on any ls-files output, with or without a prefix.
// Input: the git output, then optionally a 0 byte and the prefix (the
// parser itself stops at the first 0 byte).
#include "fuzz_support.h"
#include "reports/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = nul_fields(data, size);
  const std::string &text = parts[0];
  const bool has_prefix = parts.size() > 1;
  const std::string prefix = has_prefix ? parts[1] : std::string();

  std::vector<std::string> expected;
  for (std::string line : ref_lines(text)) {
    if (!line.empty() && line[0] == '\r') line.erase(0, 1);
    if (line.empty()) continue;
    if (line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string name;
    if (!ref_page_name(line, &name)) continue;
    if (!prefix.empty() && name.compare(0, prefix.size(), prefix) != 0) continue;
    expected.push_back(name);
  }

  // The parser reads the text up to its 0 byte: give it the whole input.
  std::vector<char> input(data, data + size);
  input.push_back('\0');
  strbuf out = {};
  list_json(input.data(), has_prefix ? prefix.c_str() : nullptr, &out);
  const std::string json = text_of(out);
  strbuf_release(&out);

  jvalue v;
  check_report_json(json, &v);
  FUZZ_CHECK(v.kind == jvalue::ARRAY);
  FUZZ_CHECK(v.items.size() == expected.size());
  for (size_t i = 0; i < expected.size(); i++) {
    FUZZ_CHECK(v.items[i].kind == jvalue::STRING);
    FUZZ_CHECK(v.items[i].str == expected[i]);
  }
  return 0;
}
