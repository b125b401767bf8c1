// Windows command-line quoting: the one way an argument list can cross a
// CreateProcess boundary intact. Plain byte work, built on every platform.
#pragma once

#include "frame/strbuf.h"

// Appends arg so that the Windows argument splitter gives it back unchanged.
// Returns the result of the last append (0, or -1 when memory ran out).
int win_quote_arg(strbuf *buf, const char *arg);

// Builds "git --no-pager -C ROOT ARG..." with every word quoted as above.
// Failing appends are skipped, as with any text we build.
void build_git_command_line(strbuf *buf, const char *root, const char *const *args);
