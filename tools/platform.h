// What the wikidb program needs from its system beyond standard C++: one
// implementation per platform (platform_posix.cpp, platform_win.cpp).
#pragma once

#include <string>

// Standard input delivers bytes unchanged (no newline translation).
void stdin_binary();

// Whether path names a directory (links followed).
bool is_directory(const std::string &path);

// The absolute, resolved form of an existing path; the path as given when
// it cannot be resolved.
std::string absolute_path(const std::string &path);
