// Cursors and date filters from any text: what parses must format back to
// the same text, and a date must read back from the form git is given.
#include "fuzz_support.h"
#include "reports/cursor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text = text_part(data, size);
  page_cursor c = {};
  if (cursor_parse(text.c_str(), &c)) {
    strbuf again = {};
    FUZZ_CHECK(cursor_format(&c, &again));
    FUZZ_CHECK(text_of(again) == text);
    strbuf_release(&again);
  }
  strbuf_release(&c.title);
  int64_t t;
  if (parse_date_filter(text.c_str(), &t)) {
    FUZZ_CHECK(t >= 0 && t < DATE_FILTER_END);
    char git_form[40];
    git_date_of(t, git_form);
    // "YYYY-MM-DD HH:MM:SS +0000" reads back as the same second.
    std::string iso(git_form);
    FUZZ_CHECK(iso.size() == 25);
    int64_t back;
    FUZZ_CHECK(parse_date_filter(iso.c_str(), &back) && back == t);
  }
  return 0;
}
