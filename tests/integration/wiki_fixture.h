// A wiki in a fresh temporary directory, opened through the public API.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"
#include "wikidb.h"

class WikiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_ / "wiki";
    h_ = wikidb_open(root_.c_str());
    ASSERT_NE(h_, nullptr) << wikidb_last_error();
  }
  void TearDown() override { wikidb_close(h_); }

  std::string page_file(const std::string &rel) const { return root_ + "/pages/" + rel; }
  std::string git(const std::string &args, int *status = nullptr) const {
    return testutil::git(root_, args, status);
  }
  // The hash of HEAD, or "" in an empty repository.
  std::string head() const {
    std::string h = git("rev-parse -q --verify HEAD 2>/dev/null");
    while (!h.empty() && h.back() == '\n') h.pop_back();
    return h;
  }
  int commit_count() const { return std::stoi("0" + git("rev-list --count HEAD 2>/dev/null")); }
  void save(const char *title, const char *text, const char *author = nullptr,
            const char *message = nullptr) {
    ASSERT_EQ(wikidb_save_page(h_, title, text, author, message), 0) << wikidb_last_error();
  }

  testutil::TempDir tmp_;
  std::string root_;
  wikidb_handle *h_ = nullptr;
};
