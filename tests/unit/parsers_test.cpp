#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "reports/parse.h"

using nlohmann::json;

static std::string list_of(const char *text, const char *prefix = nullptr) {
  strbuf b = {};
  list_json(text, prefix, &b);
  std::string out(b.data, b.len);
  strbuf_release(&b);
  return out;
}

TEST(ListParser, NamesFiltersAndLineEnds) {
  EXPECT_EQ(list_of(nullptr), "[]");
  EXPECT_EQ(list_of(""), "[]");
  EXPECT_EQ(list_of("pages/a.wiki\npages/b/c.wiki\n"), "[\"a\",\"b/c\"]");
  // CR at either end, no final line feed, backslashes, empty and bare-CR lines.
  EXPECT_EQ(list_of("\rpages/a.wiki\r\n\r\n\n\npages\\x\\y.wiki"), "[\"a\",\"x/y\"]");
  // Not pages: other extensions, a bare ".wiki", files outside pages/.
  EXPECT_EQ(list_of("pages/.wiki\npages/n.txt\nmeta/m.wiki\npages/a.wiki.bak\npagesx/a.wiki\n"
                    "pages/z.wiki\n"),
            "[\"z\"]");
  EXPECT_EQ(list_of("pages/a.wiki\npages/b/c.wiki\npages/bb.wiki\n", "b"), "[\"b/c\",\"bb\"]");
  EXPECT_EQ(list_of("pages/a.wiki\n", "abc"), "[]");
  EXPECT_EQ(list_of("pages/a.wiki\n", ""), "[\"a\"]");
  // Nothing after a 0 byte is looked at.
  const char with_nul[] = "pages/a.wiki\n\0pages/b.wiki\n";
  EXPECT_EQ(list_of(with_nul), "[\"a\"]");
}

TEST(ListParser, QuotedPathsKeepTheirRealNames) {
  std::string out = list_of("\"pages/dq\\\"q.wiki\"\n\"pages/tab\\tt.wiki\"\n"
                            "\"pages/\\303\\251.wiki\"\n\"pages/broken\\q.wiki\"\n\"pages/open.wiki\n");
  json names = json::parse(out);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "dq\"q");
  EXPECT_EQ(names[1], "tab\tt");
  EXPECT_EQ(names[2], "\xc3\xa9");
}

static std::vector<log_entry> entries_of(const char *text) {
  log_entry *e = nullptr;
  size_t n = parse_history_log(text, &e);
  std::vector<log_entry> v(e, e + n);
  free(e);
  return v;
}

static std::string s(const span &sp) { return std::string(sp.p, sp.n); }

TEST(HistoryParser, FieldsAndSkippedLines) {
  const char *log =
      "h1\x1f" "Ann\x1f" "2026-01-02 03:04:05 +0000\x1f" "First \"q\"\n"
      "\n"
      "\r\n"
      "short\x1f" "only\x1f" "two\n"
      "h2\x1f" "Bob\x1f" "d2\x1f" "sum\x1f" "with\x1f" "seps\r\n"
      "\rh3\x1f\x1f\x1f";
  auto e = entries_of(log);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(s(e[0].hash), "h1");
  EXPECT_EQ(s(e[0].author), "Ann");
  EXPECT_EQ(s(e[0].date), "2026-01-02 03:04:05 +0000");
  EXPECT_EQ(s(e[0].summary), "First \"q\"");
  EXPECT_EQ(s(e[1].summary), "sum\x1fwith\x1fseps\r");  // the rest of the line, CR included
  EXPECT_EQ(s(e[2].hash), "h3");
  EXPECT_EQ(s(e[2].summary), "");

  int64_t sizes[3] = {12, 0, 3000000000LL};
  strbuf b = {};
  history_json(e.data(), e.size(), sizes, &b);
  json j = json::parse(std::string(b.data, b.len));
  strbuf_release(&b);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["summary"], "First \"q\"");
  EXPECT_EQ(j[0]["size"], 12);
  EXPECT_EQ(j[1]["summary"], "sum\x1fwith\x1fseps\r");
  EXPECT_EQ(j[2]["size"], 3000000000LL);  // past 2 GiB, the true value
  // Keys in their fixed order, no whitespace.
  b = {};
  history_json(e.data(), 1, nullptr, &b);
  EXPECT_EQ(std::string(b.data, b.len),
            "[{\"hash\":\"h1\",\"author\":\"Ann\",\"date\":\"2026-01-02 03:04:05 +0000\","
            "\"summary\":\"First \\\"q\\\"\",\"size\":0}]");
  strbuf_release(&b);
}

TEST(HistoryParser, StraightFromTheLogIsTheSameTextInAnExactBlock) {
  const char *log =
      "h1\x1f" "Ann\x1f" "2026-01-02 03:04:05 +0000\x1f" "First \"q\" caf\xc3\xa9\n"
      "\n"
      "\r\n"
      "short\x1f" "only\x1f" "two\n"
      "h2\x1f" "B\\b\x01\x1f" "d2\x1f" "sum\x1f" "with\ttab\x1f" "seps\r\n"
      "\rh3\x1f\x1f\x1f\n"
      "h4\x1f" "Eve\x1f" "d4\x1f" "last, no line feed";
  auto e = entries_of(log);
  ASSERT_EQ(e.size(), 4u);
  const int64_t sizes[4] = {12, 0, -7, 3000000000LL};
  for (size_t given : {4, 2, 0}) {
    strbuf expect = {}, got = {};
    history_json(e.data(), e.size(), nullptr, &expect);
    if (given) {
      // Elements past the sizes given carry 0.
      std::vector<int64_t> padded(sizes, sizes + given);
      padded.resize(e.size(), 0);
      strbuf_release(&expect);
      history_json(e.data(), e.size(), padded.data(), &expect);
    }
    history_json_from_log(log, given ? sizes : nullptr, given, &got);
    EXPECT_EQ(std::string(got.data, got.len), std::string(expect.data, expect.len)) << given;
    EXPECT_EQ(got.cap, got.len + 1) << "one block of the exact size";
    strbuf_release(&expect);
    strbuf_release(&got);
  }
  for (const char *empty : {(const char *)nullptr, "", "\n\r\nno separators\n"}) {
    strbuf got = {};
    history_json_from_log(empty, nullptr, 0, &got);
    EXPECT_EQ(std::string(got.data, got.len), "[]");
    strbuf_release(&got);
  }
}

TEST(HistoryParser, SizeText) {
  EXPECT_EQ(parse_size("123\n"), 123);
  EXPECT_EQ(parse_size("  +7x"), 7);
  EXPECT_EQ(parse_size("-5"), -5);
  EXPECT_EQ(parse_size("fatal: no"), 0);
  EXPECT_EQ(parse_size(""), 0);
  EXPECT_EQ(parse_size("4294967296"), 4294967296LL);
  EXPECT_EQ(parse_size("99999999999999999999999"), INT64_MAX);
}

TEST(HistoryParser, BatchAnswersMatchedToQuestions) {
  auto e = entries_of("aaa\x1fx\x1fy\x1fz\nbbb\x1fx\x1fy\x1fz\nccc\x1fx\x1fy\x1fz\n");
  const char *path = "pages/odd\nname.wiki";
  strbuf in = {};
  ASSERT_TRUE(batch_size_input(e.data(), e.size(), path, &in));
  const std::string expect_in = std::string("aaa:pages/odd\nname.wiki") + '\0' + "bbb:pages/odd\nname.wiki" +
                                '\0' + "ccc:pages/odd\nname.wiki" + '\0';
  EXPECT_EQ(std::string(in.data, in.len), expect_in);
  strbuf_release(&in);

  int64_t sizes[3] = {-1, -1, -1};
  ASSERT_TRUE(parse_batch_sizes("10\nbbb:pages/odd\nname.wiki missing\n0\n", e.data(), 3, path, sizes));
  EXPECT_EQ(sizes[0], 10);
  EXPECT_EQ(sizes[1], 0);
  EXPECT_EQ(sizes[2], 0);
  // Anything that does not answer exactly the questions asked is refused.
  EXPECT_FALSE(parse_batch_sizes("10\n", e.data(), 3, path, sizes));
  EXPECT_FALSE(parse_batch_sizes("10\n1\n2\n3\n", e.data(), 3, path, sizes));
  EXPECT_FALSE(parse_batch_sizes("10\nccc:pages/odd\nname.wiki missing\n0\n", e.data(), 3, path, sizes));
  EXPECT_FALSE(parse_batch_sizes("fatal: bad\n", e.data(), 3, path, sizes));
  EXPECT_FALSE(parse_batch_sizes(nullptr, e.data(), 3, path, sizes));
  EXPECT_TRUE(parse_batch_sizes(nullptr, e.data(), 0, path, sizes));
}

static json recent_of(const std::string &text) {
  strbuf b = {};
  recent_json(text.c_str(), &b);
  json j = json::parse(std::string(b.data, b.len));
  strbuf_release(&b);
  return j;
}

TEST(RecentParser, CommitsAndTheirFiles) {
  json j = recent_of(
      "commit:h2\x1f" "Bob\x1f" "d2\x1f" "two pages\n"
      "\n"
      "M\tpages/a.wiki\n"
      "A\t  pages/b/c.wiki\r\n"
      "D\tpages/gone.wiki\n"
      "M\tmeta/x.wiki\n"
      "M\tpages/notes.txt\n"
      "no tab here pages/z.wiki\n"
      "commit:h1\x1f" "Ann\x1f" "d1\x1f" "first\x1fwith sep\n"
      "A\t\"pages/dq\\\"q.wiki\"\n"
      "A\t\"pages/bad\\qq.wiki\"\n"
      "A\tpages\\win\\path.wiki");
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j[0]["hash"], "h2");
  EXPECT_EQ(j[0]["page"], "a");
  EXPECT_EQ(j[1]["page"], "b/c");
  EXPECT_EQ(j[2]["page"], "gone");
  EXPECT_EQ(j[2]["summary"], "two pages");
  EXPECT_EQ(j[3]["hash"], "h1");
  EXPECT_EQ(j[3]["summary"], "first\x1fwith sep");
  EXPECT_EQ(j[3]["page"], "dq\"q");
  EXPECT_EQ(j[4]["page"], "win/path");
  EXPECT_EQ(j[4]["author"], "Ann");
}

TEST(RecentParser, MissingSeparatorsKeepThePreviousCommitsFields) {
  json j = recent_of(
      "commit:h1\x1f" "Ann\x1f" "d1\x1f" "s1\n"
      "M\tpages/a.wiki\n"
      "commit:h2\n"
      "M\tpages/b.wiki\n"
      "commit:h3\x1fZed\n"
      "M\tpages/c.wiki\n"
      "commit:h4\x1f" "Yan\x1f" "d4\n"
      "M\tpages/d.wiki\n");
  ASSERT_EQ(j.size(), 4u);
  // Without any separator nothing is replaced; with one, the hash; with
  // two, hash and author.
  EXPECT_EQ(j[1]["hash"], "h1");
  EXPECT_EQ(j[2]["hash"], "h3");
  EXPECT_EQ(j[2]["author"], "Ann");
  EXPECT_EQ(j[2]["date"], "d1");
  EXPECT_EQ(j[3]["hash"], "h4");
  EXPECT_EQ(j[3]["author"], "Yan");
  EXPECT_EQ(j[3]["date"], "d1");
  EXPECT_EQ(j[3]["summary"], "s1");
}

TEST(RecentParser, LongFieldsAreCutAtCharacterBoundaries) {
  // Characters of every width, placed so that each byte of one falls on the
  // cut in turn: the report must stay UTF-8 and keep every whole character.
  const std::vector<std::string> chars = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  for (const std::string &c : chars) {
    for (size_t shift = 0; shift < 4; shift++) {
      std::string author(255 - shift, 'a'), summary(511 - shift, 's');
      for (int i = 0; i < 4; i++) author += c, summary += c;
      strbuf b = {};
      recent_json(("commit:h\x1f" + author + "\x1f" "d\x1f" + summary + "\nM\tpages/p.wiki\n").c_str(),
                  &b);
      std::string raw(b.data, b.len);
      strbuf_release(&b);
      SCOPED_TRACE("width " + std::to_string(c.size()) + " shift " + std::to_string(shift));
      ASSERT_TRUE(json::accept(raw)) << raw;
      json j = json::parse(raw);
      const std::string got_author = j[0]["author"], got_summary = j[0]["summary"];
      // The longest prefix of whole characters that fits.
      const size_t author_keep = 255 - shift + (shift / c.size()) * c.size();
      const size_t summary_keep = 511 - shift + (shift / c.size()) * c.size();
      EXPECT_EQ(got_author, author.substr(0, author_keep));
      EXPECT_EQ(got_summary, summary.substr(0, summary_keep));
    }
  }
  // Bytes that are not UTF-8 are cut by bytes as before: nothing is guessed.
  const std::string junk(600, '\x80');
  strbuf b = {};
  recent_json(("commit:h\x1f" + junk + "\x1f" "d\x1f" + junk + "\nM\tpages/p.wiki\n").c_str(), &b);
  std::string raw(b.data, b.len);
  strbuf_release(&b);
  EXPECT_NE(raw.find("\"author\":\"" + junk.substr(0, 255) + "\""), std::string::npos);
  EXPECT_NE(raw.find("\"summary\":\"" + junk.substr(0, 511) + "\""), std::string::npos);
}

// ---- the history read with each commit's diff ("log -z --raw")

namespace {

struct raw_read {
  std::vector<std::string> hashes, blobs;
};

raw_read read_raw(const std::string &log, const char *path) {
  log_entry *e = nullptr;
  span *b = nullptr;
  const size_t n = parse_history_raw(log.data(), log.size(), path, &e, &b);
  raw_read r;
  for (size_t i = 0; i < n; i++) {
    r.hashes.emplace_back(e[i].hash.p, e[i].hash.n);
    r.blobs.emplace_back(b[i].p, b[i].n);
  }
  free(e);
  free(b);
  return r;
}

const std::string A(40, 'a'), B(40, 'b'), Z(40, '0');

std::string fields(const std::string &hash) { return hash + "\x1f" "Ann\x1f" "2026-01-01\x1fmsg"; }

}  // namespace

TEST(HistoryRawParser, EachCommitGetsItsPagesObject) {
  using std::string;
  const string nul(1, '\0');
  // An edit, a merge without diff, a deletion, a rename's destination, a
  // combined entry, a path under a directory of the page's name.
  const string log = fields("c1") + "\n:100644 100644 " + A + " " + B + " M" + nul + "pages/p.wiki" + nul +
                     nul + fields("c2") + nul +  //
                     fields("c3") + "\n:100644 000000 " + B + " " + Z + " D" + nul + "pages/p.wiki" + nul +
                     nul + fields("c4") + "\n:100644 100644 " + A + " " + B + " R100" + nul + "pages/q.wiki" +
                     nul + "pages/p.wiki" + nul + nul + fields("c5") + "\n::100644 100644 100644 " + A +
                     " " + B + " " + A + " MM" + nul + "pages/p.wiki" + nul + nul + fields("c6") +
                     "\n:000000 100644 " + Z + " " + A + " A" + nul + "pages/p.wiki/x.wiki" + nul;
  const raw_read r = read_raw(log, "pages/p.wiki");
  EXPECT_EQ(r.hashes, (std::vector<string>{"c1", "c2", "c3", "c4", "c5", "c6"}));
  EXPECT_EQ(r.blobs, (std::vector<string>{B, "", Z, B, A, ""}));
  // The same log read for another path: only the rename's source is there,
  // and a source is not the object after the commit.
  EXPECT_EQ(read_raw(log, "pages/q.wiki").blobs, (std::vector<string>(6, "")));
}

TEST(HistoryRawParser, OddOutputNeverYieldsAWrongId) {
  const std::string nul(1, '\0');
  // Abbreviated or upper-case ids, two entries for the path, a cut entry,
  // text that is no commit (a warning), a record with fewer fields.
  const std::string log = "warning: something\n" + fields("c1") + "\n:100644 100644 abc def M" + nul +
                          "pages/p.wiki" + nul + nul + fields("c2") + "\n:100644 100644 " + A + " " +
                          std::string(40, 'B') + " M" + nul + "pages/p.wiki" + nul + nul + fields("c3") +
                          "\n:100644 100644 " + A + " " + B + " M" + nul + "pages/p.wiki" + nul +
                          ":100644 100644 " + A + " " + A + " M" + nul + "pages/p.wiki" + nul + nul +
                          "c4\x1fonly two\x1f" + nul + fields("c5") + "\n:100644 100644 " + A + " " + B;
  const raw_read r = read_raw(log, "pages/p.wiki");
  EXPECT_EQ(r.hashes, (std::vector<std::string>{"c1", "c2", "c3", "c5"}));
  EXPECT_EQ(r.blobs, (std::vector<std::string>(4, "")));
  EXPECT_EQ(read_raw("", "pages/p.wiki").hashes.size(), 0u);
  log_entry *e = nullptr;
  span *b = nullptr;
  EXPECT_EQ(parse_history_raw(nullptr, 0, "pages/p.wiki", &e, &b), 0u);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(b, nullptr);
}

TEST(HistoryRawParser, QuestionsAndAnswers) {
  const std::string nul(1, '\0');
  const std::string log = fields("c1") + "\n:100644 100644 " + A + " " + B + " M" + nul + "pages/p.wiki" +
                          nul + nul + fields("c2") + "\n:100644 000000 " + B + " " + Z + " D" + nul +
                          "pages/p.wiki" + nul + nul + fields("c3") + nul;
  log_entry *e = nullptr;
  span *b = nullptr;
  const size_t n = parse_history_raw(log.data(), log.size(), "pages/p.wiki", &e, &b);
  ASSERT_EQ(n, 3u);
  strbuf q = {};
  ASSERT_TRUE(batch_blob_input(e, b, n, "pages/p.wiki", &q));
  // The null id of the deletion asks nothing; the merge-like c3 asks by path.
  EXPECT_EQ(std::string(q.data, q.len), B + nul + "c3:pages/p.wiki" + nul);
  int64_t sizes[2] = {-1, -1};
  EXPECT_TRUE(parse_batch_answers("17\nc3:pages/p.wiki missing\n", q.data, 2, sizes));
  EXPECT_EQ(sizes[0], 17);
  EXPECT_EQ(sizes[1], 0);
  EXPECT_FALSE(parse_batch_answers("17\n", q.data, 2, sizes)) << "an answer short";
  EXPECT_FALSE(parse_batch_answers("17\n5\n6\n", q.data, 2, sizes)) << "an answer too many";
  EXPECT_FALSE(parse_batch_answers((B + " missing\n5\n").c_str(), q.data, 2, sizes) &&
               parse_batch_answers("17\nc3:pages/q.wiki missing\n", q.data, 2, sizes))
      << "a missing answer must echo its own question";
  EXPECT_FALSE(parse_batch_answers("17\nc3:pages/q.wiki missing\n", q.data, 2, sizes));
  EXPECT_TRUE(null_object_id({Z.data(), Z.size()}));
  EXPECT_FALSE(null_object_id({"", 0}));
  EXPECT_FALSE(null_object_id({A.data(), A.size()}));
  strbuf_release(&q);
  free(e);
  free(b);
}
