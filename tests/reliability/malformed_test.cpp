// A git that exits 0 but prints damaged report output: lines without their
// separators, a missing final line feed, CR LF endings, a 0 byte, answers
// that do not match the questions. The reports must stay valid JSON holding
// exactly what can be read, and report no error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "fault_support.h"
#include "wikidb.h"

using namespace testutil;
using namespace faults;
using nlohmann::json;

namespace {

// Prints the prepared answer for a report command (history log, recent log,
// ls-files, batched sizes) when the test wrote one; everything else goes to
// the real git. Arguments: --no-pager -C ROOT COMMAND ...
std::string dispatching_git(const std::string &data_dir) {
  return "DATA=" + shq(data_dir) + R"(
case "$4" in
  log) case "$5" in -n*) f=recent ;; *) f=history ;; esac ;;
  ls-files) f=list ;;
  cat-file) case "$5" in --batch-check*) f=batch ;; *) f=none ;; esac ;;
  *) f=none ;;
esac
if [ -f "$DATA/$f" ]; then cat "$DATA/$f"; exit 0; fi
exec "$REAL_GIT" "$@")";
}

class Malformed : public LeakCounted {
 protected:
  Wiki w;
  TempDir data;
  FakeGit fake{dispatching_git(data.path())};

  void answer(const std::string &report, const std::string &bytes) {
    write_file(data / report, bytes);
  }
  // Parses a report, failing the test when it is not JSON.
  static json parsed(const char *text) {
    EXPECT_NE(text, nullptr);
    EXPECT_STREQ(wikidb_last_error(), "");
    try {
      return json::parse(text ? text : "");
    } catch (const std::exception &ex) {
      ADD_FAILURE() << "not JSON: " << ex.what() << "\n" << text;
      return json();
    }
  }
  json history(const char *title) { return parsed(wikidb_get_history_json(w.h, title)); }
  json recent() { return parsed(wikidb_get_recent_changes_json(w.h, 10)); }
  json list() { return parsed(wikidb_list_pages_json(w.h, nullptr)); }

  static json commit(const std::string &hash, const std::string &author, const std::string &date,
                     const std::string &summary, int size) {
    return {{"hash", hash}, {"author", author}, {"date", date}, {"summary", summary}, {"size", size}};
  }
  static json change(const std::string &hash, const std::string &author, const std::string &date,
                     const std::string &summary, const std::string &page) {
    return {{"hash", hash}, {"author", author}, {"date", date}, {"summary", summary}, {"page", page}};
  }
};

const std::string US = "\x1f";

TEST_F(Malformed, HistoryLinesWithoutSeparatorsAreSkipped) {
  answer("history", w.c2 + US + "Ann" + US + "D2" + US + "good\n" +
                        "no separators at all\n" +
                        "h" + US + "only" + US + "two\n" +
                        "\n" +
                        w.c1 + US + "Bob" + US + "D1" + US + "rest" + US + "kept");  // no final LF
  EXPECT_EQ(history("Alpha"), json::array({commit(w.c2, "Ann", "D2", "good", 7),
                                           commit(w.c1, "Bob", "D1", "rest\x1fkept", 6)}));
  EXPECT_EQ(history(nullptr), json::array({commit(w.c2, "Ann", "D2", "good", 0),
                                           commit(w.c1, "Bob", "D1", "rest\x1fkept", 0)}));
}

TEST_F(Malformed, CarriageReturnsAtLineEnds) {
  // History keeps the CR that ends a summary; the others drop it.
  answer("history", w.c2 + US + "Ann" + US + "D2" + US + "two\r\n\r" + w.c1 + US + "Ann" + US +
                        "D1" + US + "one\r\n\r\n");
  EXPECT_EQ(history("Alpha"), json::array({commit(w.c2, "Ann", "D2", "two\r", 7),
                                           commit(w.c1, "Ann", "D1", "one\r", 6)}));

  answer("recent", "commit:h2" + US + "Ann" + US + "D2" + US + "two\r\n\r\nM\tpages/Alpha.wiki\r\n");
  EXPECT_EQ(recent(), json::array({change("h2", "Ann", "D2", "two", "Alpha")}));

  answer("list", "pages/Alpha.wiki\r\n\r\npages/b/c.wiki\r\n");
  EXPECT_EQ(list(), json::array({"Alpha", "b/c"}));
}

TEST_F(Malformed, NothingAfterAZeroByteIsRead) {
  answer("history", w.c2 + US + "Ann" + US + "D2" + US + "two\n" + w.c1 + US + "Ann" + US + "D1" +
                        US + "cut here" + std::string(1, '\0') + " never read\n" + w.c1 + US +
                        "Zed" + US + "D0" + US + "hidden\n");
  EXPECT_EQ(history("Alpha"), json::array({commit(w.c2, "Ann", "D2", "two", 7),
                                           commit(w.c1, "Ann", "D1", "cut here", 6)}));

  answer("recent", "commit:h" + US + "A" + US + "D" + US + "S\nM\tpages/Alpha.wiki\nM\tpages/Be" +
                       std::string(1, '\0') + "ta.wiki\nM\tpages/C.wiki\n");
  EXPECT_EQ(recent(), json::array({change("h", "A", "D", "S", "Alpha")}));

  answer("list", "pages/A.wiki\npages/B" + std::string(1, '\0') + ".wiki\npages/C.wiki\n");
  EXPECT_EQ(list(), json::array({"A"}));
}

TEST_F(Malformed, RecentCommitLinesMissingSeparatorsKeepTheOlderFields) {
  answer("recent", "M\tpages/Orphan.wiki\n"  // before any commit line: empty fields
                   "commit:h1" + US + "Ann" + US + "D1" + US + "first\n"
                   "M\tpages/A.wiki\n"
                   "commit:h2" + US + "Bob\n"  // one separator: only the hash is new
                   "A\t  \tpages/B.wiki\n"     // blanks and tabs before the path
                   "no tab here pages/C.wiki\n"
                   "commit:h3\n"               // no separator: nothing is new
                   "D\tpages/D.wiki");         // no final LF
  EXPECT_EQ(recent(), json::array({change("", "", "", "", "Orphan"),
                                   change("h1", "Ann", "D1", "first", "A"),
                                   change("h2", "Ann", "D1", "first", "B"),
                                   change("h2", "Ann", "D1", "first", "D")}));
}

TEST_F(Malformed, RecentFieldsLongerThanTheirBuffersAreCut) {
  const std::string hash(200, 'h'), author(300, 'a'), date(200, 'd'), summary(700, 's');
  answer("recent", "commit:" + hash + US + author + US + date + US + summary + "\nM\tpages/A.wiki\n");
  EXPECT_EQ(recent(), json::array({change(hash.substr(0, 127), author.substr(0, 255),
                                          date.substr(0, 127), summary.substr(0, 511), "A")}));
}

TEST_F(Malformed, QuotedAndBrokenPagePaths) {
  answer("list", "\"pages/q\\\"uote.wiki\"\n"
                 "\"pages/tab\\there.wiki\"\n"
                 "\"pages/oct\\303\\251.wiki\"\n"
                 "\"pages/bad\\q.wiki\"\n"  // unknown escape
                 "\"pages/cut.wiki\n"       // no closing quote
                 "\"pages/nul\\000.wiki\"\n"
                 "pages/.wiki\n"
                 "pages/x.wik\n"
                 "other/y.wiki\n");
  EXPECT_EQ(list(), json::array({"q\"uote", "tab\there", "oct\xc3\xa9"}));
}

TEST_F(Malformed, BatchedSizesThatDoNotAnswerTheQuestionAreAskedAgain) {
  const json expected = json::array({commit(w.c2, "", "", "", 7), commit(w.c1, "", "", "", 6)});
  for (const std::string bad : {"garbage\n", "7\n", "7\n6\n5\n", "7\n6", "", "7\n\n6\n",
                                "x:pages/Alpha.wiki missing\n6\n"}) {
    answer("batch", bad);
    json got = history("Alpha");
    ASSERT_EQ(got.size(), 2u) << got;
    for (auto &e : got) e["author"] = e["date"] = e["summary"] = "";
    EXPECT_EQ(got, expected) << "batch answer: " << json(bad);
  }
}

}  // namespace
