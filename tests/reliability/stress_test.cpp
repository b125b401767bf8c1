// Several processes writing one wiki at once: 4 writers on pages of their
// own and 4 on one shared page, 25 saves each, with a reader alongside.
// Every save must succeed and land in a commit of its own, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"
#include "wikidb.h"

using namespace testutil;

namespace {

enum { OWN_WRITERS = 4, SHARED_WRITERS = 4, SAVES = 25, READER_ROUNDS = 25 };
// A child that has not finished by then is taken as hung: it dies and the
// test fails instead of waiting for ever. A guard against a hang only: the
// whole test takes a few seconds on a quiet machine (under a minute with the
// sanitizers), and a busy one must not reach this.
enum { CHILD_SECONDS = 1500 };

struct Save {
  std::string page, content, author, message;
};

// The one save that writer w makes in round i; every text is unique.
Save save_of(int w, int i) {
  const bool shared = w >= OWN_WRITERS;
  Save s;
  s.page = shared ? "shared" : "own-" + std::to_string(w);
  s.content = "writer " + std::to_string(w) + " round " + std::to_string(i) + "\n" +
              std::string((size_t)(w * 37 + i * 11) % 300, 'x') + "\n";
  s.author = "Writer " + std::to_string(w) + " <w" + std::to_string(w) + "@example.org>";
  s.message = "w" + std::to_string(w) + " save " + std::to_string(i) + " of " + s.page;
  return s;
}

// Blocks until the parent closes the start pipe, so that all begin at once.
void wait_for_start(int start_fd) {
  char c;
  while (read(start_fd, &c, 1) < 0) {
  }
  close(start_fd);
}

// Child body: the exit status is the number of failed calls.
int writer(const std::string &root, int w, int start_fd) {
  wait_for_start(start_fd);
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) return 100;
  int failed = 0;
  for (int i = 0; i < SAVES; i++) {
    Save s = save_of(w, i);
    if (wikidb_save_page(h, s.page.c_str(), s.content.c_str(), s.author.c_str(),
                         s.message.c_str()) != 0) {
      fprintf(stderr, "writer %d round %d: %s\n", w, i, wikidb_last_error());
      failed++;
    }
  }
  wikidb_close(h);
  return failed;
}

// Reads while the writers write: every report must be a JSON array and
// every page read must be some text a writer saved.
int reader(const std::string &root, int start_fd) {
  wait_for_start(start_fd);
  wikidb_handle *h = wikidb_open(root.c_str());
  if (!h) return 100;
  int bad = 0;
  for (int i = 0; i < READER_ROUNDS; i++) {
    for (const char *report : {wikidb_list_pages_json(h, nullptr),
                               wikidb_get_history_json(h, "shared"),
                               wikidb_get_recent_changes_json(h, 5)}) {
      if (!nlohmann::json::accept(report) || !nlohmann::json::parse(report).is_array()) {
        fprintf(stderr, "reader: not a JSON array: %s\n", report);
        bad++;
      }
    }
    const char *text = wikidb_get_page(h, "shared");
    if (text && std::string(text).rfind("writer ", 0) != 0) {
      fprintf(stderr, "reader: torn page: %s\n", text);
      bad++;
    }
  }
  wikidb_close(h);
  return bad;
}

TEST(ConcurrentWriters, EverySaveLandsInACommitOfItsOwn) {
  TempDir dir;
  const std::string root = dir / "wiki";
  wikidb_handle *h = wikidb_open(root.c_str());
  ASSERT_NE(h, nullptr) << wikidb_last_error();
  wikidb_close(h);

  int start[2];
  ASSERT_EQ(pipe(start), 0);
  fflush(nullptr);
  std::vector<pid_t> pids;
  for (int w = 0; w <= OWN_WRITERS + SHARED_WRITERS; w++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      alarm(CHILD_SECONDS);
      _exit(w < OWN_WRITERS + SHARED_WRITERS ? writer(root, w, start[0]) : reader(root, start[0]));
    }
    pids.push_back(pid);
  }
  close(start[0]);
  close(start[1]);  // go
  for (size_t k = 0; k < pids.size(); k++) {
    int st = 0;
    ASSERT_EQ(waitpid(pids[k], &st, 0), pids[k]);
    EXPECT_TRUE(WIFEXITED(st)) << "child " << k << " died by signal " << WTERMSIG(st);
    if (WIFEXITED(st)) {
      EXPECT_EQ(WEXITSTATUS(st), 0) << "failed calls in child " << k;
    }
  }

  int status = -1;
  EXPECT_EQ(git(root, "fsck --full --no-progress 2>&1", &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(exists(root + "/.git/index.lock"));
  EXPECT_EQ(git(root, "status --porcelain"), "") << "nothing left staged or changed";

  // Each commit: one page file changed, by exactly one save's author and message.
  std::map<std::string, Save> by_message;
  for (int w = 0; w < OWN_WRITERS + SHARED_WRITERS; w++)
    for (int i = 0; i < SAVES; i++) {
      Save s = save_of(w, i);
      by_message[s.message] = s;
    }
  std::istringstream log(git(root, "log --no-renames --no-abbrev --raw --format='C%x1f%an <%ae>%x1f%B%x1f'"));
  struct Commit {
    std::string author, message;
    std::vector<std::string> changes;  // raw lines: ":old new blob_old blob_new M\tpath"
  };
  std::vector<Commit> commits;
  std::string line;
  while (std::getline(log, line)) {
    if (line.rfind("C\x1f", 0) == 0) {
      // The body may span lines up to the closing separator.
      std::string record = line.substr(2);
      while (record.find('\x1f', record.find('\x1f') + 1) == std::string::npos &&
             std::getline(log, line))
        record += "\n" + line;
      size_t a = record.find('\x1f'), b = record.find('\x1f', a + 1);
      std::string body = record.substr(a + 1, b - a - 1);
      while (!body.empty() && body.back() == '\n') body.pop_back();
      commits.push_back({record.substr(0, a), body, {}});
    } else if (!line.empty() && line[0] == ':' && !commits.empty()) {
      commits.back().changes.push_back(line);
    }
  }
  ASSERT_EQ(commits.size(), (size_t)(OWN_WRITERS + SHARED_WRITERS) * SAVES);

  std::set<std::string> seen;
  std::string blobs;  // the new blob of every commit, for one cat-file run
  std::vector<std::string> expected_texts;
  for (const Commit &c : commits) {
    auto it = by_message.find(c.message);
    ASSERT_NE(it, by_message.end()) << "a commit of no save: " << c.message;
    EXPECT_TRUE(seen.insert(c.message).second) << "two commits of one save: " << c.message;
    const Save &s = it->second;
    EXPECT_EQ(c.author, s.author) << c.message;
    ASSERT_EQ(c.changes.size(), 1u) << c.message << " swept in other changes";
    const std::string &raw = c.changes[0];
    EXPECT_EQ(raw.substr(raw.find('\t') + 1), "pages/" + s.page + ".wiki") << c.message;
    std::istringstream fields(raw);
    std::string modes_old, mode_new, blob_old, blob_new;
    fields >> modes_old >> mode_new >> blob_old >> blob_new;
    blobs += blob_new + "\n";
    expected_texts.push_back(s.content);
  }

  // Each commit holds exactly the text its save wrote.
  const std::string list = dir / "blobs";
  write_file(list, blobs);
  const std::string contents = git(root, "cat-file --batch < " + shq(list));
  size_t pos = 0;
  for (const std::string &want : expected_texts) {
    size_t header_end = contents.find('\n', pos);
    ASSERT_NE(header_end, std::string::npos);
    std::istringstream header(contents.substr(pos, header_end - pos));
    std::string id, type;
    size_t size = 0;
    header >> id >> type >> size;
    EXPECT_EQ(contents.substr(header_end + 1, size), want);
    pos = header_end + 1 + size + 1;
  }

  // The pages end with their writers' last texts.
  for (int w = 0; w < OWN_WRITERS; w++)
    EXPECT_EQ(read_file(root + "/pages/own-" + std::to_string(w) + ".wiki"),
              save_of(w, SAVES - 1).content);
  EXPECT_EQ(read_file(root + "/pages/shared.wiki"), git(root, "show HEAD:pages/shared.wiki"));
}

}  // namespace
