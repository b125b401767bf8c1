// Author identities from any bytes: what git receives is always one whole
// "NAME <MAIL>" of at most 255 bytes, free of control bytes, that a valid
// UTF-8 author keeps valid, and whose address is the one the caller gave.
#include "fuzz_support.h"
#include "store/author.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string author = text_part(data, size);
  char out[WIKIDB_AUTHOR_CAP];
  if (!format_author(author.c_str(), out)) {
    // Refused only for a reason the rules name.
    bool control = false;
    for (unsigned char c : author) control = control || c < 0x20 || c == 0x7F;
    const size_t lt = author.find('<'), gt = author.find('>');
    const bool bare = lt == std::string::npos && gt == std::string::npos;
    const bool named = lt != std::string::npos && gt == author.size() - 1 && lt < gt &&
                       author.find('<', lt + 1) == std::string::npos &&
                       author.find('>') == gt;
    // The name part that can reach git: a bare name is cut to 111 bytes, a
    // named one to what its " <MAIL>" leaves of 255.
    const size_t fixed = named ? gt - lt + 2 : 0;
    const size_t room = named ? (fixed < 255 ? 255 - fixed : 0) : 111;
    const size_t name_len = named ? lt : author.size();
    const size_t name_end = std::min(name_len, room);
    const size_t real = author.find_first_not_of(" .,:;\"\\'");
    // A cut inside a UTF-8 sequence steps back to its start (at most 3 bytes).
    const size_t cut_slack = name_len > room ? 3 : 0;
    const bool no_name = real == std::string::npos || real + cut_slack >= name_end;
    const bool long_mail = named && fixed >= 255;
    FUZZ_CHECK(author.empty() == false);
    FUZZ_CHECK(control || !(bare || named) || no_name || long_mail);
    return 0;
  }
  const std::string id(out);
  FUZZ_CHECK(!id.empty() && id.size() <= 255);
  FUZZ_CHECK(id.back() == '>');
  FUZZ_CHECK(id.find('<') == id.rfind('<') && id.find('>') == id.size() - 1);
  FUZZ_CHECK(id.find(" <") != std::string::npos);
  for (unsigned char c : id) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
  if (valid_utf8(author)) FUZZ_CHECK(valid_utf8(id));
  const size_t lt = author.find('<');
  if (lt != std::string::npos) {
    // The caller's address, whole.
    FUZZ_CHECK(id.substr(id.find('<')) == author.substr(lt));
  } else if (!author.empty()) {
    // A bare name: the same cut name both times, a prefix of the name.
    const size_t sp = id.find(" <");
    const std::string name = id.substr(0, sp);
    FUZZ_CHECK(author.compare(0, name.size(), name) == 0);
    FUZZ_CHECK(id.compare(sp + 2, name.size() + 1, name + "@") == 0);
  }
  return 0;
}
