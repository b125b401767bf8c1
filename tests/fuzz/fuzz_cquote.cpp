// The decoder of git's C-quoted paths. Each input is used twice: as a
// quoted form, which must decode exactly as an independent reading says or
// be refused as a whole; and as raw path bytes, which quoted as git would
// quote them must decode back to themselves and to their page name.
#include "fuzz_support.h"
#include "reports/cquote.h"
#include "reports/parse.h"

static bool decode(const std::string &q, std::string *out) {
  // An exact-size copy, so a read past the end is caught.
  char *copy = (char *)malloc(q.size() ? q.size() : 1);
  memcpy(copy, q.data(), q.size());
  strbuf b = {};
  bool ok = cquote_decode(copy, q.size(), &b);
  if (ok) {
    FUZZ_CHECK(b.data != nullptr && b.data[b.len] == '\0');
    *out = text_of(b);
  }
  strbuf_release(&b);
  free(copy);
  return ok;
}

// The page name the report parsers get from a path.
static bool page_name(const std::string &path, std::string *name) {
  char *copy = (char *)malloc(path.size() ? path.size() : 1);
  memcpy(copy, path.data(), path.size());
  strbuf b = {};
  span got;
  bool ok = page_name_of({copy, path.size()}, &b, &got);
  if (ok) *name = std::string(got.p, got.n);
  strbuf_release(&b);
  free(copy);
  return ok;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string in((const char *)data, size);

  // 1. The input as a quoted form.
  std::string got, want;
  const bool ok = decode(in, &got);
  FUZZ_CHECK(ok == ref_cquote_decode(in, &want));
  if (ok) FUZZ_CHECK(got == want);
  std::string name, ref_name;
  const bool named = page_name(in, &name);
  FUZZ_CHECK(named == ref_page_name(in, &ref_name));
  if (named) FUZZ_CHECK(name == ref_name);

  // 2. The input as the bytes of a path (a path holds no 0 byte), quoted in
  // each of the ways git may quote it.
  std::string raw;
  for (char c : in)
    if (c) raw.push_back(c);
  const std::string page = "pages/" + raw + ".wiki";
  std::string slashed = raw;
  for (char &c : slashed)
    if (c == '\\') c = '/';
  for (int mode = 0; mode < 3; mode++) {
    const std::string q = ref_cquote_encode(raw, mode == 1, mode == 2);
    FUZZ_CHECK(decode(q, &got) && got == raw);
    const std::string qp = ref_cquote_encode(page, mode == 1, mode == 2);
    FUZZ_CHECK(page_name(qp, &name) == !raw.empty());
    if (!raw.empty()) FUZZ_CHECK(name == slashed);
    // A quoted form cut short (at a place the input picks) is read exactly
    // as the independent reading says: mostly refused, never half-read.
    if (q.size() > 2) {
      const size_t at = 1 + (size ? data[0] : 0) % (q.size() - 2);
      const std::string cutq = q.substr(0, at);
      std::string ref;
      FUZZ_CHECK(decode(cutq, &got) == ref_cquote_decode(cutq, &ref));
    }
  }
  return 0;
}
