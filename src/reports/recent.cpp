#include <stdlib.h>

#include "git/invocations.h"
#include "reports/envelope.h"
#include "reports/parse.h"
#include "store/handle.h"

extern "C" WIKIDB_API const char *wikidb_get_recent_changes_json(wikidb_handle *h, int limit) {
  unsigned long out_of_memory;
  if (!report_begin(h, &out_of_memory)) return g_empty_array;
  char *out = nullptr;
  int rc = git_log_recent(h->root, limit > 0 ? limit : 50, &out);
  strbuf json = {};
  recent_json(rc == 0 ? out : nullptr, &json);
  free(out);
  return report_finish(&h->recent_buf, &json, out_of_memory);
}
