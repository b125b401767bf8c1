#include "reports/envelope.h"

#include "frame/error.h"
#include "store/handle.h"

const char g_empty_array[] = "[]";

bool report_begin(const wikidb_handle *h, unsigned long *out_of_memory) {
  clear_error();
  *out_of_memory = out_of_memory_count();
  if (!h) {
    set_error("Invalid handle");
    return false;
  }
  return true;
}

const char *report_finish(char **slot, strbuf *json, unsigned long out_of_memory) {
  if (out_of_memory_count() != out_of_memory) strbuf_release(json);
  replace_slot(slot, strbuf_detach(json));
  clear_error();
  return *slot ? *slot : g_empty_array;
}
