// The recent-changes parser on any "log --name-status" output.
#include "fuzz_support.h"
#include "frame/utf8.h"
#include "reports/parse.h"

struct ref_change {
  std::string hash, author, date, summary, page;
};

// Fields are cut to their capacity less one, never inside a character.
static std::string cut(const std::string &s, size_t cap) {
  return s.size() > cap - 1 ? s.substr(0, utf8_whole(s.data(), cap - 1)) : s;
}

static std::vector<ref_change> ref_recent(const std::string &text) {
  std::vector<ref_change> out;
  std::string hash, author, date, summary;
  for (std::string line : ref_lines(text)) {
    if (!line.empty() && line[0] == '\r') line.erase(0, 1);
    if (line.empty()) continue;
    if (line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.compare(0, 7, "commit:") == 0) {
      // Each field is replaced once its separator is found; the rest keep
      // the previous commit's values.
      std::string rest = line.substr(7);
      std::string *fields[3] = {&hash, &author, &date};
      const size_t caps[3] = {RECENT_HASH_CAP, RECENT_AUTHOR_CAP, RECENT_DATE_CAP};
      size_t at = 0;
      bool all = true;
      for (int i = 0; i < 3; i++) {
        size_t sep = rest.find('\x1f', at);
        if (sep == std::string::npos) {
          all = false;
          break;
        }
        *fields[i] = cut(rest.substr(at, sep - at), caps[i]);
        at = sep + 1;
      }
      if (all) summary = cut(rest.substr(at), RECENT_SUMMARY_CAP);
      continue;
    }
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    size_t path = line.find_first_not_of(" \t", tab + 1);
    std::string name;
    if (!ref_page_name(path == std::string::npos ? std::string() : line.substr(path), &name)) continue;
    out.push_back({hash, author, date, summary, name});
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<ref_change> expected = ref_recent(text_part(data, size));

  std::vector<char> input(data, data + size);
  input.push_back('\0');
  strbuf out = {};
  recent_json(input.data(), &out);
  const std::string json = text_of(out);
  strbuf_release(&out);

  jvalue v;
  check_report_json(json, &v);
  FUZZ_CHECK(v.kind == jvalue::ARRAY && v.items.size() == expected.size());
  for (size_t i = 0; i < expected.size(); i++) {
    const jvalue &e = v.items[i];
    FUZZ_CHECK(has_keys(e, {"hash", "author", "date", "summary", "page"}));
    for (const auto &m : e.members) FUZZ_CHECK(m.second.kind == jvalue::STRING);
    FUZZ_CHECK(e.members[0].second.str == expected[i].hash);
    FUZZ_CHECK(e.members[1].second.str == expected[i].author);
    FUZZ_CHECK(e.members[2].second.str == expected[i].date);
    FUZZ_CHECK(e.members[3].second.str == expected[i].summary);
    FUZZ_CHECK(e.members[4].second.str == expected[i].page);
  }
  return 0;
}
