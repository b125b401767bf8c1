#include "reports/envelope.h"

#include "frame/error.h"
#include "store/handle.h"

const char g_empty_array[] = "[]";

const char *report_finish(char **slot, strbuf *json, unsigned long out_of_memory) {
  if (out_of_memory_count() != out_of_memory) strbuf_release(json);
  replace_slot(slot, strbuf_detach(json));
  clear_error();
  return *slot ? *slot : g_empty_array;
}
