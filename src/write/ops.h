// The changes one write-API commit makes, in the order they were asked for.
#pragma once

#include <stddef.h>

#include "store/paths.h"

enum write_op_kind { OP_SAVE, OP_DELETE, OP_RENAME };

struct write_op {
  write_op_kind kind;
  char *title;     // the page (a rename's source), '/' between directories
  char *to_title;  // a rename's target
  char *repo;      // "pages/TITLE.wiki"
  char *to_repo;
  char *content;   // a save's text
  size_t content_len;
  char *expected;  // null: no condition; "": the page must not exist
  char blob[65];   // a save's blob hash once written, else ""
};

struct write_ops {
  write_op *items;
  size_t n, cap;
};

// Appends a copy of the op's texts. 0, or -1 with "Memory allocation failed".
int ops_add(write_ops *ops, write_op_kind kind, const char *title, const char *to_title,
            const char *content, const char *expected, const char *root);
void ops_release(write_ops *ops);

// The page name of a safe title as git lists it: '\' turned into '/'.
char *normal_title(const char *title);
