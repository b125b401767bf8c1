#include "wikidb.h"

static const char s_version[] = "1.0.0";

extern "C" WIKIDB_API const char *wikidb_version(void) { return s_version; }
