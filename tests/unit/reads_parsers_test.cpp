// The parsers behind the paged reads, on hand-made git output.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "reports/cursor.h"
#include "reports/fold.h"
#include "reports/parse_log.h"

using nlohmann::json;

namespace {

std::string S(const span &s) { return std::string(s.p, s.n); }

std::string record(const std::string &hash, const std::string &body,
                   const std::string &changes = "") {
  std::string r = "\x01" + hash;
  r += '\0';
  r += std::string("p1 p2") + '\0' + "Ann" + '\0' + "ann@x" + '\0' + "2026-01-02 03:04:05 +0100" +
       '\0' + "1767319445" + '\0' + "Subject" + '\0' + body + '\0';
  return r + changes;
}

std::string z(std::initializer_list<const char *> fields) {
  std::string s;
  for (const char *f : fields) {
    s += f;
    s += '\0';
  }
  return s;
}

TEST(LogZ, RecordsAndTheirChanges) {
  std::string text = "noise" + std::string(1, '\0') +
                     record("aa", "Body\n\nline", "\n" + z({"M", "pages/A.wiki", "R087", "pages/B.wiki",
                                                          "pages/C.wiki", "D", "meta/x"})) +
                     record("bb", "") + record("cc", "x", z({"A", "pages/N.wiki"}));
  log_records r;
  ASSERT_TRUE(parse_log_z(text.data(), text.size(), &r));
  ASSERT_EQ(r.n, 3u);
  EXPECT_EQ(S(r.recs[0].hash), "aa");
  EXPECT_EQ(S(r.recs[0].parents), "p1 p2");
  EXPECT_EQ(S(r.recs[0].email), "ann@x");
  EXPECT_EQ(S(r.recs[0].time), "1767319445");
  EXPECT_EQ(S(r.recs[0].body), "Body\n\nline");
  ASSERT_EQ(r.recs[0].n_changes, 3u);
  const log_change &ren = r.changes[r.recs[0].first_change + 1];
  EXPECT_EQ(ren.status, 'R');
  EXPECT_EQ(S(ren.old_path), "pages/B.wiki");
  EXPECT_EQ(S(ren.path), "pages/C.wiki");
  EXPECT_EQ(r.recs[1].n_changes, 0u);
  EXPECT_EQ(r.recs[2].n_changes, 1u);
  strbuf out = {};
  wiki_entries_json(r, 0, r.n, &out);
  json j = json::parse("[" + std::string(out.data, out.len) + "]");
  EXPECT_EQ(j[0]["pages"], json::parse(R"([{"page":"A","kind":"modified"},{"page":"C","kind":"renamed","from":"B"}])"));
  EXPECT_EQ(j[0]["timestamp"], 1767319445);
  EXPECT_EQ(j[2]["pages"], json::parse(R"([{"page":"N","kind":"added"}])"));
  strbuf_release(&out);
  log_records_release(&r);
  // A record cut short is dropped.
  std::string cut = record("aa", "b").substr(0, 20);
  ASSERT_TRUE(parse_log_z(cut.data(), cut.size(), &r));
  EXPECT_EQ(r.n, 0u);
  log_records_release(&r);
}

TEST(LogZ, RawChangesNameTheObject) {
  const std::string blob(40, 'b'), zero(40, '0');
  std::string text = record("aa", "", "\n:100644 100644 " + std::string(40, 'a') + " " + blob + " M" +
                                          std::string(1, '\0') + "pages/A.wiki" + std::string(1, '\0')) +
                     record("bb", "", "\n:100644 000000 " + blob + " " + zero + " D" + std::string(1, '\0') +
                                          "pages/A.wiki" + std::string(1, '\0')) +
                     record("cc", "", ":100644 short M" + std::string(1, '\0') + "pages/A.wiki" + std::string(1, '\0'));
  log_records r;
  ASSERT_TRUE(parse_log_z(text.data(), text.size(), &r));
  ASSERT_EQ(r.n, 3u);
  ASSERT_EQ(r.recs[0].n_changes, 1u);
  EXPECT_EQ(r.changes[0].status, 'M');
  EXPECT_EQ(S(r.changes[0].blob), blob);
  EXPECT_EQ(S(r.changes[0].path), "pages/A.wiki");
  EXPECT_EQ(r.changes[1].status, 'D');
  EXPECT_EQ(S(r.changes[1].blob), zero);
  EXPECT_EQ(r.recs[2].n_changes, 0u);  // too few words: not a change
  log_records_release(&r);
}

TEST(LogZ, RecordedRenamesPairADeletionWithAnAddition) {
  std::string body = "Rename\n\nWikidb-Rename: \"Old \\\"q\\\" \\u00e9\" -> \"New\"\nWikidb-Rename: bad";
  std::string text = record("aa", body, z({"A", "pages/New.wiki", "D", "pages/Old \"q\" \xc3\xa9.wiki",
                                           "D", "pages/Other.wiki"}));
  log_records r;
  ASSERT_TRUE(parse_log_z(text.data(), text.size(), &r));
  strbuf out = {};
  wiki_entries_json(r, 0, r.n, &out);
  json j = json::parse(std::string(out.data, out.len));
  EXPECT_EQ(j["pages"], json::parse(R"([{"page":"New","kind":"renamed","from":"Old \"q\" é"},{"page":"Other","kind":"deleted"}])"));
  strbuf old = {};
  EXPECT_TRUE(find_rename_to(r.recs[0].body, "New", 3, &old));
  EXPECT_EQ(std::string(old.data, old.len), "Old \"q\" \xc3\xa9");
  EXPECT_FALSE(find_rename_to(r.recs[0].body, "Ne", 2, &old));
  // Lines that only look like rename lines.
  for (const char *bad : {"Wikidb-Rename: \"a\" -> \"b\" x", "Wikidb-Rename: \"a\"->\"b\"",
                          "wikidb-rename: \"a\" -> \"b\"", " Wikidb-Rename: \"a\" -> \"b\"",
                          "Wikidb-Rename: \"a\\u0000\" -> \"b\"", "Wikidb-Rename: \"a\\ud800\" -> \"b\""}) {
    std::string b = bad;
    EXPECT_FALSE(find_rename_to({b.data(), b.size()}, "b", 1, &old)) << bad;
  }
  std::string crlf = "Wikidb-Rename: \"a\\\\b\" -> \"c\"\r\n";
  EXPECT_TRUE(find_rename_to({crlf.data(), crlf.size()}, "c", 1, &old));
  EXPECT_EQ(std::string(old.data, old.len), "a/b");
  strbuf_release(&old);
  strbuf_release(&out);
  log_records_release(&r);
}

TEST(Cursor, RoundTripAndRefusals) {
  page_cursor c = {};
  c.page = true;
  memcpy(c.hash, std::string(40, 'a').c_str(), 41);
  c.parents = true;
  c.skip = 12345;
  c.check = 0xdeadbeef;
  strbuf_append_str(&c.title, "Dir/T\xc3\xa9 .x");
  strbuf text = {};
  ASSERT_TRUE(cursor_format(&c, &text));
  std::string t(text.data, text.len);
  for (char ch : t) EXPECT_TRUE(isalnum((unsigned char)ch) || ch == '.' || ch == '-') << t;
  page_cursor d = {};
  ASSERT_TRUE(cursor_parse(t.c_str(), &d));
  EXPECT_TRUE(d.page && d.parents);
  EXPECT_EQ(d.skip, 12345);
  EXPECT_EQ(d.check, 0xdeadbeefu);
  EXPECT_EQ(std::string(d.hash), std::string(40, 'a'));
  EXPECT_EQ(std::string(d.title.data, d.title.len), "Dir/T\xc3\xa9 .x");
  EXPECT_STREQ(d.next, "");
  memcpy(c.next, std::string(40, 'b').c_str(), 41);
  ASSERT_TRUE(cursor_format(&c, &text));
  ASSERT_TRUE(cursor_parse(text.data, &d));
  EXPECT_EQ(std::string(d.next), std::string(40, 'b'));
  std::string w = "w1." + std::string(64, 'f') + ".0.7.0000000a.-";
  EXPECT_TRUE(cursor_parse(w.c_str(), &d));
  EXPECT_FALSE(d.page);
  for (std::string bad : {t + "0", t.substr(0, t.size() - 1), "w1." + std::string(40, 'A') + ".0.1.00000000.-",
                          "w1." + std::string(40, 'a') + ".0.1.00000000", "w1." + std::string(40, 'a') + ".0.1.00000000.x",
                          "w1." + std::string(40, 'a') + ".0.1.00000000." + std::string(39, 'a'),
                          "w1." + std::string(39, 'a') + ".0.1.00000000", w + ".61",
                          "w1." + std::string(40, 'a') + ".2.1.00000000", "w1." + std::string(40, 'a') + ".0.01.00000000",
                          "w1." + std::string(40, 'a') + ".0.-1.00000000", "p1." + std::string(40, 'a') + ".0.1.00000000.",
                          "p1." + std::string(40, 'a') + ".0.1.00000000.00", std::string("")})
    EXPECT_FALSE(cursor_parse(bad.c_str(), &d)) << bad;
  EXPECT_NE(query_check("h", "ab", "", nullptr, nullptr, 0), query_check("h", "a", "b", nullptr, nullptr, 0));
  EXPECT_NE(query_check("h", "a", "", nullptr, nullptr, 0), query_check("h", "a", "", nullptr, nullptr, 1));
  strbuf_release(&c.title);
  strbuf_release(&d.title);
  strbuf_release(&text);
}

TEST(DateFilter, FormsGitReadsExactly) {
  int64_t t;
  ASSERT_TRUE(parse_date_filter("2026-01-02", &t));
  EXPECT_EQ(t, 1767312000);
  ASSERT_TRUE(parse_date_filter("2026-01-02T03:04:05+01:00", &t));
  EXPECT_EQ(t, 1767312000 + 3 * 3600 + 4 * 60 + 5 - 3600);
  ASSERT_TRUE(parse_date_filter("2026-01-02 03:04 -0230", &t));
  EXPECT_EQ(t, 1767312000 + 3 * 3600 + 4 * 60 + 2 * 3600 + 1800);
  ASSERT_TRUE(parse_date_filter("2024-02-29 00:00:00Z", &t));
  ASSERT_TRUE(parse_date_filter("@86400", &t));
  EXPECT_EQ(t, 86400);
  ASSERT_TRUE(parse_date_filter("0", &t));
  char out[40];
  git_date_of(86400 * 365, out);
  EXPECT_STREQ(out, "1971-01-01 00:00:00 +0000");
  git_date_of(1767312000 + 59, out);
  EXPECT_STREQ(out, "2026-01-02 00:00:59 +0000");
  for (const char *bad : {"", "now", "2023-02-29", "2026-00-10", "2026-1-2", "2026-01-02 3:04",
                          "1969-12-31 23:59:59", "2026-01-02+25", "@", "@-5", "2100-01-01",
                          "1234567890123", "2026-01-02T", "2026-01-02 12:00 +01:00x"})
    EXPECT_FALSE(parse_date_filter(bad, &t)) << bad;
}

TEST(IsoDate, ZonesAndDaysBefore1970) {
  char out[40];
  format_iso_date(0, {"+0530", 5}, out);
  EXPECT_STREQ(out, "1970-01-01 05:30:00 +0530");
  format_iso_date(0, {"-0100", 5}, out);
  EXPECT_STREQ(out, "1969-12-31 23:00:00 -0100");
  format_iso_date(951782400, {"junk!", 5}, out);  // 2000-02-29
  EXPECT_STREQ(out, "2000-02-29 00:00:00 +0000");
}

TEST(Fold, EveryCasedScriptAndPatterns) {
  auto fold = [](const std::string &s) {
    strbuf b = {};
    fold_text(s.data(), s.size(), &b);
    std::string r(b.data, b.len);
    strbuf_release(&b);
    return r;
  };
  EXPECT_EQ(fold("\xc3\x9c" "BER"), fold("\xc3\xbc" "ber"));           // ÜBER über
  EXPECT_EQ(fold("\xce\xa3"), fold("\xcf\x83"));                        // Σ σ
  EXPECT_EQ(fold("\xcf\x82"), fold("\xcf\x83"));                        // ς σ
  EXPECT_EQ(fold("\xd0\x81\xd0\x96"), fold("\xd1\x91\xd0\xb6"));        // ЁЖ ёж
  EXPECT_EQ(fold("\xc4\x80\xc5\xb9\xc5\xb8"), fold("\xc4\x81\xc5\xba\xc3\xbf"));  // ĀŹŸ āźÿ
  EXPECT_EQ(fold("\xd4\xb1"), fold("\xd5\xa1"));                        // Ա ա
  EXPECT_NE(fold("\xc3\x97"), fold("\xc3\xb7"));                        // × ÷ are no letters
  EXPECT_EQ(fold("\xff\xc3"), "\xff\xc3");                              // bytes that are no UTF-8
  strbuf p = {};
  ASSERT_TRUE(term_pattern("a.\xc3\xbc(", &p));
  EXPECT_EQ(std::string(p.data, p.len), "a\\.(\xc3\x9c|\xc3\xbc)\\(");
  EXPECT_TRUE(needs_pattern("\xd0\xbf"));
  EXPECT_FALSE(needs_pattern("abc\xe6\x97\xa5"));  // 日 has no case
  strbuf_release(&p);
}

TEST(GrepHits, FieldsCutsAndMalformedLines) {
  std::string out = z({"pages/A.wiki", "3", "7"}) + "text with \xc3\xa9\r\n" + "garbage line\n" +
                    z({"pages/B.wiki", "x", "1"}) + "bad number\n" + z({"meta/c", "1", "1"}) + "not a page\n" +
                    z({"pages/D.wiki", "10", "2"}) + "last";
  const char *p = out.data(), *end = out.data() + out.size();
  grep_hit hit;
  strbuf json_out = {}, scratch = {};
  int pages = 0, hits = 0;
  while (next_grep_hit(&p, end, &hit)) {
    hits++;
    if (append_hit_json(&json_out, &scratch, hit, 11)) pages++;
  }
  EXPECT_EQ(hits, 3);
  EXPECT_EQ(pages, 2);
  EXPECT_EQ(std::string(json_out.data, json_out.len),
            "{\"page\":\"A\",\"line\":3,\"column\":7,\"text\":\"text with \"}"
            "{\"page\":\"D\",\"line\":10,\"column\":2,\"text\":\"last\"}");
  strbuf_release(&json_out);
  strbuf_release(&scratch);
}

TEST(Blame, PorcelainLinesAndCommits) {
  const std::string a(40, 'a'), b(40, 'b');
  std::string text = a + " 1 1 2\nauthor Ann\nauthor-mail <ann@x>\nauthor-time 100\nauthor-tz +0100\n"
                         "summary First\nboundary\nfilename pages/Old.wiki\n\tone\n" +
                     a + " 2 2\n\ttwo\n" + b + " 1 3 1\nauthor Bob\nauthor-mail <bob@x>\nauthor-time 200\n"
                     "author-tz -0000\nsummary S\nprevious " + a + " pages/Old.wiki\nfilename pages/New.wiki\n\tthree\n";
  blame_result r;
  ASSERT_TRUE(parse_blame(text.data(), text.size(), &r));
  ASSERT_EQ(r.n_lines, 3u);
  ASSERT_EQ(r.n_commits, 2u);
  EXPECT_TRUE(r.commits[0].boundary);
  EXPECT_TRUE(r.commits[1].has_previous);
  EXPECT_EQ(r.lines[1].commit, 0u);
  EXPECT_EQ(r.lines[2].orig_line, 1);
  strbuf out = {}, scratch = {};
  append_blame_line(&out, r, r.lines[0], 1, &scratch);
  json j = json::parse(std::string(out.data, out.len));
  EXPECT_EQ(j["email"], "ann@x");
  EXPECT_EQ(j["date"], "1970-01-01 01:01:40 +0100");
  EXPECT_EQ(j["page"], "Old");
  EXPECT_EQ(j["text"], "one");
  strbuf_release(&out);
  strbuf_release(&scratch);
  blame_result_release(&r);
  // Not porcelain: a text line before any header, a cut header.
  for (std::string bad : {std::string("\tx\n"), a + " 1\n", a + " 1 1\nauthor A\n", std::string("zz 1 1\n\tx\n")})
  {
    EXPECT_FALSE(parse_blame(bad.data(), bad.size(), &r)) << bad;
    blame_result_release(&r);  // what a failed parse kept is the caller's to release
  }
}

TEST(LineMap, HunkHeadersOfAZeroContextDiff) {
  // Old: a b c d e; new: a X c d Y Z e  (b changed to X, Y Z inserted after d)
  std::string diff = "diff --git a/x b/x\n--- a/x\n+++ b/x\n@@ -2 +2 @@\n-b\n+X\n@@ -4,0 +5,2 @@\n+Y\n+Z\n";
  long expect[] = {0, 1, 0, 3, 4, 0, 0, 5};
  for (long n = 1; n <= 7; n++) EXPECT_EQ(map_line_back(diff.data(), diff.size(), n), expect[n]) << n;
  // Deletion: old a b c, new a c.
  std::string del = "@@ -2 +1,0 @@\n-b\n";
  EXPECT_EQ(map_line_back(del.data(), del.size(), 1), 1);
  EXPECT_EQ(map_line_back(del.data(), del.size(), 2), 3);
  EXPECT_EQ(map_line_back("", 0, 4), 4);
}

}  // namespace
