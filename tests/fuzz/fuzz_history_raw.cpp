// The page history read from "log -z --raw": its entries and the page's
// object id per commit, against a plain reading of the same bytes, and the
// size questions and answers built on them. Input: the page's repository
// path, a 0 byte, then git's output (which holds 0 bytes itself).
#include <algorithm>

#include "fuzz_support.h"
#include "reports/parse.h"

struct ref_record {
  std::string hash, author, date, summary, blob;
};

static bool ref_hex(const std::string &id) {
  if (id.size() < 40) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

static std::vector<ref_record> ref_parse(const std::string &s, const std::string &path) {
  std::vector<ref_record> out;
  size_t pos = 0;
  const size_t len = s.size();
  while (pos < len) {
    size_t fe = s.find_first_of(std::string("\n\0", 2), pos);
    if (fe == std::string::npos) fe = len;
    std::string line = s.substr(pos, fe - pos);
    pos = fe < len ? fe + 1 : len;
    std::string blob;
    int matches = 0;
    if (fe < len && s[fe] == '\n') {
      while (pos < len && s[pos] == ':') {
        size_t nul = s.find('\0', pos);
        const std::string head = s.substr(pos, (nul == std::string::npos ? len : nul) - pos);
        const size_t last = head.rfind(' ');
        const std::string status = last == std::string::npos ? head : head.substr(last + 1);
        std::string id;
        if (last != std::string::npos) {
          const size_t before = last == 0 ? std::string::npos : head.rfind(' ', last - 1);
          id = before == std::string::npos ? head.substr(0, last) : head.substr(before + 1, last - before - 1);
        }
        std::string dest;
        bool have_dest = false;
        if (nul == std::string::npos) {
          pos = len;
        } else {
          pos = nul + 1;
          const int paths = !status.empty() && (status[0] == 'R' || status[0] == 'C') ? 2 : 1;
          for (int k = 0; k < paths && pos < len; k++) {
            size_t pe = s.find('\0', pos);
            if (pe == std::string::npos) pe = len;
            dest = s.substr(pos, pe - pos);
            have_dest = true;
            pos = pe < len ? pe + 1 : len;
          }
        }
        if ((have_dest ? dest : std::string()) == path && ref_hex(id)) {
          blob = id;
          matches++;
        }
      }
      if (pos < len && s[pos] == '\0') pos++;
    }
    if (matches != 1) blob.clear();
    if (!line.empty() && line[0] == '\r') line.erase(0, 1);
    if (line.empty()) continue;
    size_t s1 = line.find('\x1f');
    size_t s2 = s1 == std::string::npos ? s1 : line.find('\x1f', s1 + 1);
    size_t s3 = s2 == std::string::npos ? s2 : line.find('\x1f', s2 + 1);
    if (s3 == std::string::npos) continue;
    out.push_back({line.substr(0, s1), line.substr(s1 + 1, s2 - s1 - 1), line.substr(s2 + 1, s3 - s2 - 1),
                   line.substr(s3 + 1), blob});
  }
  return out;
}

static std::string str(const span &s) { return std::string(s.p, s.n); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = text_part(data, size);
  const size_t skip = path.size() < size ? path.size() + 1 : size;
  // An exact-size copy, so reading past the end is caught by the sanitizer.
  std::vector<char> log(data + skip, data + size);
  const std::vector<ref_record> expected = ref_parse(std::string(log.begin(), log.end()), path);

  log_entry *entries = nullptr;
  span *blobs = nullptr;
  const size_t n = parse_history_raw(log.data(), log.size(), path.c_str(), &entries, &blobs);
  FUZZ_CHECK(n == expected.size());
  const char *lo = log.data(), *hi = log.data() + log.size();
  for (size_t i = 0; i < n; i++) {
    for (const span *s : {&entries[i].hash, &entries[i].author, &entries[i].date, &entries[i].summary})
      FUZZ_CHECK(s->n == 0 || (s->p >= lo && s->p + s->n <= hi));
    FUZZ_CHECK(blobs[i].n == 0 || (blobs[i].p >= lo && blobs[i].p + blobs[i].n <= hi));
    FUZZ_CHECK(str(entries[i].hash) == expected[i].hash);
    FUZZ_CHECK(str(entries[i].author) == expected[i].author);
    FUZZ_CHECK(str(entries[i].date) == expected[i].date);
    FUZZ_CHECK(str(entries[i].summary) == expected[i].summary);
    FUZZ_CHECK(str(blobs[i]) == expected[i].blob);
  }

  // The questions: an id, or HASH:PATH, for each entry whose id is not null.
  strbuf input = {};
  FUZZ_CHECK(batch_blob_input(entries, blobs, n, path.c_str(), &input));
  std::string want;
  size_t asked = 0;
  for (const ref_record &r : expected) {
    if (!r.blob.empty() && r.blob.find_first_not_of('0') == std::string::npos) continue;
    want += r.blob.empty() ? r.hash + ":" + path : r.blob;
    want.push_back('\0');
    asked++;
  }
  FUZZ_CHECK(text_of(input) == want);

  // Answers made from the input's own bytes after the path: either a
  // correct answer for every question, or whatever they happen to be.
  std::vector<int64_t> sizes(asked + 1, -7);
  std::string answers;
  for (size_t i = 0; i < asked; i++) answers += std::to_string(i * 31) + "\n";
  if (asked) {
    FUZZ_CHECK(parse_batch_answers(answers.c_str(), input.data, asked, sizes.data()));
    for (size_t i = 0; i < asked; i++) FUZZ_CHECK(sizes[i] == (int64_t)(i * 31));
    // One answer short, or one too many: refused.
    answers.pop_back();
    FUZZ_CHECK(!parse_batch_answers((answers + "\n7\n").c_str(), input.data, asked, sizes.data()));
  }
  const std::string junk(log.begin(), std::find(log.begin(), log.end(), '\0'));
  if (asked) parse_batch_answers(junk.c_str(), input.data, asked, sizes.data());
  strbuf_release(&input);
  free(entries);
  free(blobs);
  return 0;
}
