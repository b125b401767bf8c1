#include "write/ops.h"

#include <stdlib.h>
#include <string.h>

#include "frame/error.h"

static char *copy_text(const char *text, size_t len) {
  char *p = static_cast<char *>(malloc(len + 1));
  if (!p) {
    note_out_of_memory();
    return nullptr;
  }
  memcpy(p, text, len);
  p[len] = '\0';
  return p;
}

char *normal_title(const char *title) {
  char *t = copy_text(title, strlen(title));
  if (t)
    for (char *p = t; *p; p++)
      if (*p == '\\') *p = '/';
  return t;
}

static void op_release(write_op *op) {
  free(op->title);
  free(op->to_title);
  free(op->repo);
  free(op->to_repo);
  free(op->content);
  free(op->expected);
}

int ops_add(write_ops *ops, write_op_kind kind, const char *title, const char *to_title,
            const char *content, const char *expected, const char *root) {
  if (ops->n == ops->cap) {
    size_t cap = ops->cap ? ops->cap * 2 : 4;
    write_op *grown = static_cast<write_op *>(realloc(ops->items, cap * sizeof *grown));
    if (!grown) {
      note_out_of_memory();
      set_error("Memory allocation failed");
      return -1;
    }
    ops->items = grown;
    ops->cap = cap;
  }
  write_op op = {};
  op.kind = kind;
  page_path p;
  bool ok = page_paths(root, title, &p);
  op.title = normal_title(title);
  op.repo = copy_text(p.repo, strlen(p.repo));
  ok = ok && op.title && op.repo;
  if (ok && to_title) {
    ok = page_paths(root, to_title, &p);
    op.to_title = normal_title(to_title);
    op.to_repo = copy_text(p.repo, strlen(p.repo));
    ok = ok && op.to_title && op.to_repo;
  }
  if (ok && content) {
    op.content_len = strlen(content);
    op.content = copy_text(content, op.content_len);
    ok = op.content != nullptr;
  }
  if (ok && expected) {
    op.expected = copy_text(expected, strlen(expected));
    ok = op.expected != nullptr;
  }
  if (!ok) {
    op_release(&op);
    set_error("Memory allocation failed");
    return -1;
  }
  ops->items[ops->n++] = op;
  return 0;
}

void ops_release(write_ops *ops) {
  for (size_t i = 0; i < ops->n; i++) op_release(&ops->items[i]);
  free(ops->items);
  *ops = {};
}
