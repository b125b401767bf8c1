/* Compiled as C and as C++ by the tests: the public header must stand alone
 * under strict flags, and every declaration must keep its signature. */
#include "wikidb.h"
#include "wikidb.h" /* the include guard holds */

struct wikidb_api {
  const char *(*version)(void);
  const char *(*last_error)(void);
  wikidb_handle *(*open)(const char *);
  void (*close)(wikidb_handle *);
  int (*save_page)(wikidb_handle *, const char *, const char *, const char *, const char *);
  const char *(*get_page)(wikidb_handle *, const char *);
  int (*delete_page)(wikidb_handle *, const char *, const char *, const char *);
  const char *(*get_revision)(wikidb_handle *, const char *, const char *);
  const char *(*get_diff)(wikidb_handle *, const char *, const char *, const char *);
  int (*rollback)(wikidb_handle *, const char *, const char *, const char *);
  const char *(*list_pages_json)(wikidb_handle *, const char *);
  const char *(*get_history_json)(wikidb_handle *, const char *);
  const char *(*get_recent_changes_json)(wikidb_handle *, int);
};

static const struct wikidb_api s_api = {
    wikidb_version,      wikidb_last_error,       wikidb_open,         wikidb_close,
    wikidb_save_page,    wikidb_get_page,         wikidb_delete_page,  wikidb_get_revision,
    wikidb_get_diff,     wikidb_rollback,         wikidb_list_pages_json,
    wikidb_get_history_json, wikidb_get_recent_changes_json};

int main(void) { return s_api.version == 0; }
