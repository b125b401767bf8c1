// The batched size query of the history report: the names it sends to
// "cat-file --batch-check -z" and the reading of git's answers, plus the
// size reader of "cat-file -s". Input: a history log, a 0 byte, the page's
// repository path, a 0 byte, git's answer.
#include <errno.h>

#include "fuzz_support.h"
#include "reports/parse.h"

// One answer per question, in order: digits and a line feed, or the name
// echoed with " missing"; nothing may follow the last answer.
static bool ref_batch(const std::string &answer, const log_entry *e, size_t n, const std::string &path,
                      std::vector<int64_t> *sizes) {
  size_t at = 0;
  for (size_t i = 0; i < n; i++) {
    size_t digits = at;
    while (at < answer.size() && answer[at] >= '0' && answer[at] <= '9') at++;
    if (at > digits && at < answer.size() && answer[at] == '\n') {
      errno = 0;
      (*sizes)[i] = strtoll(answer.c_str() + digits, nullptr, 10);
      at++;
      continue;
    }
    const std::string missing = std::string(e[i].hash.p, e[i].hash.n) + ":" + path + " missing\n";
    if (answer.compare(digits, missing.size(), missing) != 0) return false;
    (*sizes)[i] = 0;
    at = digits + missing.size();
  }
  return at == answer.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = nul_fields(data, size);
  const std::string &log = parts[0];
  const std::string path = parts.size() > 1 ? parts[1] : "pages/a.wiki";
  const std::string answer = parts.size() > 2 ? parts[2] : std::string();

  // The size reader agrees with the C library's strtoll, saturation included.
  FUZZ_CHECK(parse_size(answer.c_str()) == (int64_t)strtoll(answer.c_str(), nullptr, 10));
  FUZZ_CHECK(parse_size(log.c_str()) == (int64_t)strtoll(log.c_str(), nullptr, 10));

  log_entry *entries = nullptr;
  const size_t n = parse_history_log(log.c_str(), &entries);

  // Questions: "HASH:PATH" each ended by a 0 byte.
  strbuf input = {};
  FUZZ_CHECK(batch_size_input(entries, n, path.c_str(), &input));
  std::string want;
  for (size_t i = 0; i < n; i++) {
    want.append(entries[i].hash.p, entries[i].hash.n);
    want += ":" + path;
    want.push_back('\0');
  }
  FUZZ_CHECK(text_of(input) == want);
  strbuf_release(&input);

  std::vector<int64_t> sizes(n, -7), ref_sizes(n, -7);
  const bool ok = parse_batch_sizes(answer.c_str(), entries, n, path.c_str(), sizes.data());
  const bool ref_ok = ref_batch(answer, entries, n, path, &ref_sizes);
  FUZZ_CHECK(ok == ref_ok);
  if (ok) FUZZ_CHECK(sizes == ref_sizes);
  free(entries);
  return 0;
}
