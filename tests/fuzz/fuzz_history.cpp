// The history log parser and the history report writer on any log output.
#include "fuzz_support.h"
#include "reports/parse.h"

struct ref_entry {
  std::string hash, author, date, summary;
};

static std::vector<ref_entry> ref_history(const std::string &text) {
  std::vector<ref_entry> out;
  for (std::string line : ref_lines(text)) {
    if (!line.empty() && line[0] == '\r') line.erase(0, 1);
    if (line.empty()) continue;
    size_t s1 = line.find('\x1f');
    size_t s2 = s1 == std::string::npos ? s1 : line.find('\x1f', s1 + 1);
    size_t s3 = s2 == std::string::npos ? s2 : line.find('\x1f', s2 + 1);
    if (s3 == std::string::npos) continue;
    out.push_back({line.substr(0, s1), line.substr(s1 + 1, s2 - s1 - 1),
                   line.substr(s2 + 1, s3 - s2 - 1), line.substr(s3 + 1)});
  }
  return out;
}

// Sizes that reach the ends of the 64-bit range, to test their writing.
static int64_t size_for(size_t i) {
  switch (i % 5) {
    case 0: return (int64_t)i * 977;
    case 1: return INT64_MAX;
    case 2: return INT64_MIN;
    case 3: return (int64_t)3 << 31;  // beyond 32 bits
    default: return -1;
  }
}

static std::string str(const span &s) { return std::string(s.p, s.n); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text = text_part(data, size);
  const std::vector<ref_entry> expected = ref_history(text);

  std::vector<char> input(data, data + size);
  input.push_back('\0');
  log_entry *entries = nullptr;
  const size_t n = parse_history_log(input.data(), &entries);
  FUZZ_CHECK(n == expected.size());
  FUZZ_CHECK((n == 0) == (entries == nullptr));
  std::vector<int64_t> sizes(n);
  for (size_t i = 0; i < n; i++) {
    // Every span lies inside the input.
    for (const span *s : {&entries[i].hash, &entries[i].author, &entries[i].date, &entries[i].summary})
      FUZZ_CHECK(s->p >= input.data() && s->p + s->n <= input.data() + text.size());
    FUZZ_CHECK(str(entries[i].hash) == expected[i].hash);
    FUZZ_CHECK(str(entries[i].author) == expected[i].author);
    FUZZ_CHECK(str(entries[i].date) == expected[i].date);
    FUZZ_CHECK(str(entries[i].summary) == expected[i].summary);
    sizes[i] = size_for(i);
  }

  // With sizes (a page's history) and without (the whole wiki's).
  for (int with_sizes = 0; with_sizes < 2; with_sizes++) {
    strbuf out = {};
    history_json(entries, n, with_sizes ? sizes.data() : nullptr, &out);
    const std::string json = text_of(out);
    strbuf_release(&out);
    jvalue v;
    check_report_json(json, &v);
    FUZZ_CHECK(v.kind == jvalue::ARRAY && v.items.size() == n);
    for (size_t i = 0; i < n; i++) {
      const jvalue &e = v.items[i];
      FUZZ_CHECK(has_keys(e, {"hash", "author", "date", "summary", "size"}));
      for (int k = 0; k < 4; k++) FUZZ_CHECK(e.members[k].second.kind == jvalue::STRING);
      FUZZ_CHECK(e.members[0].second.str == expected[i].hash);
      FUZZ_CHECK(e.members[1].second.str == expected[i].author);
      FUZZ_CHECK(e.members[2].second.str == expected[i].date);
      FUZZ_CHECK(e.members[3].second.str == expected[i].summary);
      FUZZ_CHECK(e.members[4].second.kind == jvalue::NUMBER);
      FUZZ_CHECK(e.members[4].second.num == (with_sizes ? sizes[i] : 0));
    }
  }
  free(entries);
  return 0;
}
