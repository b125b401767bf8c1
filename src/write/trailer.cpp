#include "write/trailer.h"

#include <stdio.h>
#include <string.h>

#include "frame/error.h"
#include "reports/json.h"

int compose_message(const write_ops *ops, const char *message, strbuf *out) {
  const unsigned long oom = out_of_memory_count();
  if (message && *message) {
    strbuf_append_str(out, message);
  } else if (ops->n == 1) {
    const write_op &op = ops->items[0];
    if (op.kind == OP_SAVE) strbuf_append_str(out, "Update ");
    if (op.kind == OP_DELETE) strbuf_append_str(out, "Delete ");
    if (op.kind == OP_RENAME) strbuf_append_str(out, "Rename ");
    strbuf_append_str(out, op.title);
    if (op.kind == OP_RENAME) {
      strbuf_append_str(out, " to ");
      strbuf_append_str(out, op.to_title);
    }
  } else {
    char line[64];
    snprintf(line, sizeof line, "Change %llu pages", (unsigned long long)ops->n);
    strbuf_append_str(out, line);
  }
  bool any = false;
  for (size_t i = 0; i < ops->n; i++) {
    const write_op &op = ops->items[i];
    if (op.kind != OP_RENAME) continue;
    if (!any) {
      // The trailers go after one blank line that ends the caller's text.
      while (out->len && out->data[out->len - 1] == '\n') out->data[--out->len] = '\0';
      strbuf_append_str(out, "\n\n");
      any = true;
    }
    strbuf_append_str(out, "Wikidb-Rename: ");
    strbuf_append_json_str(out, op.title);
    strbuf_append_str(out, " -> ");
    strbuf_append_json_str(out, op.to_title);
    strbuf_append_str(out, "\n");
  }
  if (out->len && out->data[out->len - 1] != '\n') strbuf_append(out, "\n", 1);
  if (out_of_memory_count() != oom || !out->data) {
    strbuf_release(out);
    set_error("Memory allocation failed");
    return -1;
  }
  return 0;
}
