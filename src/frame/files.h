// Reading files by UTF-8 path with the C runtime's streams, on every
// platform: on Windows the path goes to the runtime as UTF-16 (files_win.cpp),
// since its narrow functions read paths in the ANSI code page.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Opens path for reading in binary mode, or null.
FILE *file_open_read(const char *path);

// Whether path exists (links followed).
bool file_exists(const char *path);

// Last modification time in seconds since 1970 (UTC); false when path
// cannot be queried.
bool file_mtime(const char *path, int64_t *seconds);
