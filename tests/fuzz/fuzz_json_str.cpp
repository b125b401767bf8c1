// The JSON string writer: its output is always one strict JSON string that
// reads back to the input bytes, and valid UTF-8 in is valid UTF-8 (and
// valid JSON for a general parser) out.
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "reports/json.h"

static void check_literal(const std::string &json, const std::string &bytes) {
  std::string back;
  jreader r(json);
  FUZZ_CHECK(r.string(&back) && r.i == json.size());
  FUZZ_CHECK(back == bytes);
  // Only bytes below 0x20, the quote and the backslash are escaped, so the
  // output keeps every other byte and its UTF-8 validity.
  if (valid_utf8(bytes)) {
    FUZZ_CHECK(valid_utf8(json));
    nlohmann::json v = nlohmann::json::parse(json, nullptr, false);
    FUZZ_CHECK(!v.is_discarded() && v.is_string());
    FUZZ_CHECK(v.get<std::string>() == bytes);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A NUL-terminated text: the input up to its first 0 byte.
  const std::string text = text_part(data, size);
  strbuf out = {};
  // Written after other text, as inside a report, which must be kept.
  FUZZ_CHECK(strbuf_append(&out, "[", 1) == 0);
  FUZZ_CHECK(strbuf_append_json_str(&out, text.c_str()) == 0);
  std::string json = text_of(out);
  FUZZ_CHECK(json[0] == '[');
  check_literal(json.substr(1), text);
  strbuf_release(&out);

  // The counted form on every byte, 0 included (written as \u0000).
  const std::string all((const char *)data, size);
  FUZZ_CHECK(strbuf_append_json_bytes(&out, all.data(), all.size()) == 0);
  json = text_of(out);
  strbuf_release(&out);
  std::string back;
  jreader r(json);
  FUZZ_CHECK(r.string(&back) && r.i == json.size() && back == all);
  if (all.size() == text.size()) check_literal(json, all);
  return 0;
}
