// What the three reports share: the slot they fill and the fallback "[]".
#pragma once

#include "frame/strbuf.h"

extern const char g_empty_array[];

// Stores the built report in the handle's slot (freeing the old one),
// empties the error slot and returns the text, or "[]" when nothing could
// be built at all.
const char *report_finish(char **slot, strbuf *json);
