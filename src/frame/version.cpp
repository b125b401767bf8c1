#include "wikidb.h"

static const char s_version[] = WIKIDB_VERSION_TEXT;

extern "C" WIKIDB_API const char *wikidb_version(void) { return s_version; }
