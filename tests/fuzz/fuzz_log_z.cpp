// The NUL-separated log parser and the whole-wiki entries on any bytes:
// the JSON must read back with one entry per record, and the records,
// written out again in git's layout, must parse to the same records.
#include "fuzz_support.h"
#include "reports/parse_log.h"

static std::string str(const span &s) { return std::string(s.p, s.n); }

static std::string canonical(const log_records &r) {
  std::string out;
  for (size_t i = 0; i < r.n; i++) {
    const log_record &e = r.recs[i];
    out += '\x01';
    for (const span *f : {&e.hash, &e.parents, &e.author, &e.email, &e.date, &e.time, &e.subject, &e.body}) {
      out += str(*f);
      out += '\0';
    }
    for (size_t c = 0; c < e.n_changes; c++) {
      const log_change &ch = r.changes[e.first_change + c];
      out += ch.status;
      out += '\0';
      if (ch.status == 'R' || ch.status == 'C') out += str(ch.old_path) + std::string(1, '\0');
      out += str(ch.path);
      out += '\0';
    }
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  log_records r;
  FUZZ_CHECK(parse_log_z(reinterpret_cast<const char *>(data), size, &r));
  strbuf out = {};
  strbuf_append(&out, "[", 1);
  wiki_entries_json(r, 0, r.n, &out);
  strbuf_append(&out, "]", 1);
  jvalue v;
  check_report_json(text_of(out), &v);
  FUZZ_CHECK(v.kind == jvalue::ARRAY && v.items.size() == r.n);
  for (size_t i = 0; i < r.n; i++) {
    const jvalue &e = v.items[i];
    FUZZ_CHECK(has_keys(e, {"hash", "author", "email", "date", "timestamp", "summary", "pages"}));
    FUZZ_CHECK(e.members[0].second.str == str(r.recs[i].hash));
    FUZZ_CHECK(e.members[6].second.items.size() <= r.recs[i].n_changes);
  }
  // Status letters with only their first letter kept, paths as they were.
  std::string again = canonical(r);
  log_records r2;
  FUZZ_CHECK(parse_log_z(again.data(), again.size(), &r2));
  FUZZ_CHECK(r2.n == r.n && r2.n_changes == r.n_changes);
  FUZZ_CHECK(canonical(r2) == again);
  // The rename lines of every body.
  for (size_t i = 0; i < r.n; i++) {
    strbuf old = {};
    if (find_rename_to(r.recs[i].body, "x", 1, &old)) FUZZ_CHECK(old.data && strlen(old.data) == old.len);
    strbuf_release(&old);
  }
  log_records_release(&r2);
  log_records_release(&r);
  strbuf_release(&out);
  return 0;
}
