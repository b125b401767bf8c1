#include "store/author.h"

#include <stdio.h>
#include <string.h>

#include "git/invocations.h"

// Bare names get an address under a reserved domain that can never deliver.
#define WIKIDB_PLACEHOLDER_DOMAIN "users.quenlow-wikidb.invalid"

void format_author(const char *author, char out[WIKIDB_AUTHOR_CAP]) {
  if (!author || !*author)
    snprintf(out, WIKIDB_AUTHOR_CAP, "%s <%s>", WIKIDB_DEFAULT_NAME, WIKIDB_DEFAULT_EMAIL);
  else if (strchr(author, '<') && strchr(author, '>'))
    snprintf(out, WIKIDB_AUTHOR_CAP, "%s", author);
  else
    snprintf(out, WIKIDB_AUTHOR_CAP, "%s <%s@%s>", author, author, WIKIDB_PLACEHOLDER_DOMAIN);
}
