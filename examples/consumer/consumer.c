/* The smallest C host: opens the wiki named on the command line, saves a
 * page, reads it back, and prints the page list and the page's history.
 * Built against an installed library by the install test, through
 * pkg-config and through find_package (see CMakeLists.txt here). */
#include <stdio.h>
#include <string.h>

#include <wikidb.h>

static int failed(const char *what) {
  fprintf(stderr, "%s failed: %s\n", what, wikidb_last_error());
  return 1;
}

int main(int argc, char **argv) {
  static const char text[] = "Hello from C.\n";
  wikidb_handle *wiki;
  const char *page;

  if (argc != 2) {
    fprintf(stderr, "usage: %s WIKI_ROOT\n", argv[0]);
    return 2;
  }
  printf("quenlow-wikidb %s\n", wikidb_version());

  wiki = wikidb_open(argv[1]);
  if (!wiki) return failed("wikidb_open");
  if (wikidb_save_page(wiki, "Hello", text, "C Host", "Say hello") != 0) {
    wikidb_close(wiki);
    return failed("wikidb_save_page");
  }
  page = wikidb_get_page(wiki, "Hello");
  if (!page || strcmp(page, text) != 0) {
    wikidb_close(wiki);
    return failed("wikidb_get_page");
  }
  printf("pages: %s\n", wikidb_list_pages_json(wiki, NULL));
  printf("history: %s\n", wikidb_get_history_json(wiki, "Hello"));
  wikidb_close(wiki);
  return 0;
}
