// The process-wide error slot every exported call reports through.
#pragma once

#include <stddef.h>

enum { WIKIDB_ERROR_CAP = 2048 };

// GCC and clang check the arguments of printf-style calls; other
// compilers do without.
#if defined(__GNUC__)
#define WIKIDB_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define WIKIDB_PRINTF_LIKE(fmt, args)
#endif

// printf-style into the slot, cut to fit.
void set_error(const char *format, ...) WIKIDB_PRINTF_LIKE(1, 2);

// Empties the slot: the first thing every exported operation does.
void clear_error(void);

// Copy out and put back the slot, for code that runs a helper git command
// whose failure must not replace the message the caller already holds.
void save_error(char out[WIKIDB_ERROR_CAP]);
void restore_error(const char saved[WIKIDB_ERROR_CAP]);

// Every allocation the library could not make is counted here. An operation
// that reads the count before and after its work knows whether its result
// may be missing a part: it then gives its failure value instead.
void note_out_of_memory(void);
unsigned long out_of_memory_count(void);
