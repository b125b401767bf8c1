#include "frame/error.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "frame/utf8.h"
#include "wikidb.h"

static char s_last_error[WIKIDB_ERROR_CAP];

void set_error(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  // vsnprintf always terminates and never writes past the slot; a cut
  // message (long git output) ends before a character it would split.
  int n = vsnprintf(s_last_error, sizeof s_last_error, format, ap);
  va_end(ap);
  if (n >= (int)sizeof s_last_error)
    s_last_error[utf8_whole(s_last_error, sizeof s_last_error - 1)] = '\0';
}

void clear_error(void) { s_last_error[0] = '\0'; }

void save_error(char out[WIKIDB_ERROR_CAP]) { memcpy(out, s_last_error, WIKIDB_ERROR_CAP); }

void restore_error(const char saved[WIKIDB_ERROR_CAP]) {
  memcpy(s_last_error, saved, WIKIDB_ERROR_CAP);
}

static unsigned long s_out_of_memory;

void note_out_of_memory(void) { s_out_of_memory++; }

unsigned long out_of_memory_count(void) { return s_out_of_memory; }

extern "C" WIKIDB_API const char *wikidb_last_error(void) { return s_last_error; }
