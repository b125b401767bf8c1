#include "git/quote.h"

#include <string.h>

static bool needs_quotes(const char *arg) {
  return arg[0] == '\0' || strpbrk(arg, "\t\n\v \"") != nullptr;
}

int win_quote_arg(strbuf *buf, const char *arg) {
  if (!needs_quotes(arg)) return strbuf_append_str(buf, arg);

  strbuf_append(buf, "\"", 1);
  const char *p = arg;
  while (*p) {
    size_t slashes = 0;
    while (p[slashes] == '\\') slashes++;
    if (slashes) {
      const char next = p[slashes];
      // Backslashes are literal unless they precede a quote (ours or the
      // argument's), where the splitter halves them.
      const size_t copies = next == '\0' ? 2 * slashes : next == '"' ? 2 * slashes + 1 : slashes;
      for (size_t i = 0; i < copies; i++) strbuf_append(buf, "\\", 1);
      p += slashes;
      if (next == '\0') break;
      strbuf_append(buf, p, 1);
      p++;
    } else if (*p == '"') {
      strbuf_append(buf, "\\\"", 2);
      p++;
    } else {
      strbuf_append(buf, p, 1);
      p++;
    }
  }
  return strbuf_append(buf, "\"", 1);
}

void build_git_command_line(strbuf *buf, const char *root, const char *const *args) {
  strbuf_append(buf, "git --no-pager -C ", 18);
  win_quote_arg(buf, root);
  for (const char *const *a = args; *a; a++) {
    strbuf_append(buf, " ", 1);
    win_quote_arg(buf, *a);
  }
}
