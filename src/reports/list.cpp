#include <stdlib.h>

#include "git/invocations.h"
#include "reports/envelope.h"
#include "reports/parse.h"
#include "store/handle.h"

extern "C" WIKIDB_API const char *wikidb_list_pages_json(wikidb_handle *h, const char *prefix) {
  unsigned long out_of_memory;
  if (!report_begin(h, &out_of_memory)) return g_empty_array;
  char *out = nullptr;
  int rc = git_ls_pages(h->root, &out);
  strbuf json = {};
  list_json(rc == 0 ? out : nullptr, prefix, &json);
  free(out);
  return report_finish(&h->list_buf, &json, out_of_memory);
}
