#include "store/author.h"

#include <stdio.h>
#include <string.h>

#include "frame/error.h"
#include "git/invocations.h"

// Bare names get an address under a reserved domain that can never deliver.
#define WIKIDB_PLACEHOLDER_DOMAIN "users.quenlow-wikidb.invalid"

// The bytes git trims from both ends of a name; a name made only of them is
// empty for git, which then refuses the commit.
static bool is_crud(unsigned char c) {
  return c <= 32 || c == '.' || c == ',' || c == ':' || c == ';' || c == '<' || c == '>' ||
         c == '"' || c == '\\' || c == '\'';
}

// The length of name[0..len) cut to at most room bytes, ending before a
// UTF-8 sequence rather than inside it, without trailing blanks.
static size_t cut_name(const char *name, size_t len, size_t room) {
  size_t n = len <= room ? len : room;
  if (n < len) {
    // Step back over continuation bytes to the start of the cut sequence
    // (at most three: no sequence is longer than four bytes).
    size_t k = n;
    while (k > 0 && n - k < 3 && ((unsigned char)name[k] & 0xC0) == 0x80) k--;
    if (((unsigned char)name[k] & 0xC0) != 0x80) n = k;
  }
  while (n > 0 && name[n - 1] == ' ') n--;
  return n;
}

static bool has_real_name(const char *name, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (!is_crud((unsigned char)name[i])) return true;
  return false;
}

static bool build_author(const char *author, char out[WIKIDB_AUTHOR_CAP]) {
  if (!author || !*author) {
    snprintf(out, WIKIDB_AUTHOR_CAP, "%s <%s>", WIKIDB_DEFAULT_NAME, WIKIDB_DEFAULT_EMAIL);
    return true;
  }
  const char *lt = nullptr, *gt = nullptr;
  size_t len = 0;
  for (const char *p = author; *p; p++, len++) {
    const unsigned char c = (unsigned char)*p;
    if (c < 0x20 || c == 0x7F) return false;
    if (c == '<') {
      if (lt) return false;
      lt = p;
    } else if (c == '>') {
      if (gt) return false;
      gt = p;
    }
  }
  const size_t cap = WIKIDB_AUTHOR_CAP - 1;
  if (!lt && !gt) {
    // "NAME <NAME@DOMAIN>": the name is there twice.
    const size_t fixed = strlen(" <@" WIKIDB_PLACEHOLDER_DOMAIN ">");
    const size_t n = cut_name(author, len, (cap - fixed) / 2);
    if (!has_real_name(author, n)) return false;
    snprintf(out, WIKIDB_AUTHOR_CAP, "%.*s <%.*s@%s>", (int)n, author, (int)n, author,
             WIKIDB_PLACEHOLDER_DOMAIN);
    return true;
  }
  // Exactly "NAME <MAIL>": the '>' closes the text.
  if (!lt || !gt || gt < lt || gt[1] != '\0') return false;
  const size_t mail_len = (size_t)(gt - lt - 1);
  const size_t fixed = mail_len + 3;  // " <" MAIL ">"
  if (fixed >= cap) return false;
  const size_t n = cut_name(author, (size_t)(lt - author), cap - fixed);
  if (!has_real_name(author, n)) return false;
  snprintf(out, WIKIDB_AUTHOR_CAP, "%.*s <%.*s>", (int)n, author, (int)mail_len, lt + 1);
  return true;
}

bool format_author(const char *author, char out[WIKIDB_AUTHOR_CAP]) {
  if (build_author(author, out)) return true;
  set_error("Invalid author");
  return false;
}
