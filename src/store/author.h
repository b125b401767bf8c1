#pragma once

enum { WIKIDB_AUTHOR_CAP = 256 };

// Builds the "Name <mail>" identity put on a commit, at most 255 bytes: the
// default identity for a null or empty author; "NAME <MAIL>" for an author
// of that form (one '<', one '>' ending the text); for a bare name without
// '<' or '>', the name with a placeholder address. A long name is cut, never
// the address or its brackets, and never inside a UTF-8 sequence, so git
// always receives a whole identity and never a pattern over earlier authors.
// False, out undefined, for an author git could not record as given: a
// control byte (0x00-0x1F, 0x7F), '<' and '>' not in that form, an empty
// name or an address too long to fit; the error slot then says "Invalid
// author".
bool format_author(const char *author, char out[WIKIDB_AUTHOR_CAP]);
