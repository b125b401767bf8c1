// The report envelope: the slot a report fills and its fallback "[]".
#pragma once

#include "frame/strbuf.h"
#include "wikidb.h"

extern const char g_empty_array[];

// How every report starts: empties the error slot, notes in *out_of_memory
// the allocation-failure count for report_finish, and refuses a null handle
// with "Invalid handle". False when the report must return g_empty_array.
bool report_begin(const wikidb_handle *h, unsigned long *out_of_memory);

// Stores the built report in the handle's slot (freeing the old one),
// empties the error slot and returns the text. Gives "[]" instead when
// nothing could be built, or when an allocation failed since the report
// began (out_of_memory_count was out_of_memory then): a report with a part
// missing would pass for the whole.
const char *report_finish(char **slot, strbuf *json, unsigned long out_of_memory);
