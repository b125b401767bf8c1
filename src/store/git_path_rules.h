// The path rules git applies before it lets a path into its index or work
// tree, on every platform at once: a title that git would refuse must be
// refused before the library writes its file.
#pragma once

#include <stddef.h>

// Whether git accepts the n-byte path component comp. Refused: "", ".", "..",
// ".git" in any letter case, its NTFS spellings (".git" or "git~1" followed
// only by dots and spaces, or by a stream such as "::$INDEX_ALLOCATION") and
// its HFS spellings (".git" with Unicode code points that HFS ignores inside).
bool git_accepts_component(const char *comp, size_t n);

// Whether git accepts the '/'-separated repository path: no leading or
// trailing '/', every component accepted.
bool git_accepts_path(const char *path);
