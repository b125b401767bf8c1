// The message of a write-API commit: the caller's text or a default, and a
// trailer line for each rename so that a history reader can follow it:
//   Wikidb-Rename: "OLD" -> "NEW"
// with both titles written as JSON strings, so that any title round-trips.
#pragma once

#include "frame/strbuf.h"
#include "write/ops.h"

// 0, or -1 with "Memory allocation failed".
int compose_message(const write_ops *ops, const char *message, strbuf *out);
