#pragma once

enum { WIKIDB_AUTHOR_CAP = 256 };

// The "Name <mail>" identity put on a commit, cut to 255 bytes: the default
// identity for a null or empty author, the author itself when it holds both
// '<' and '>', else the bare name with a placeholder address.
void format_author(const char *author, char out[WIKIDB_AUTHOR_CAP]);
