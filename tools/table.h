// Text for people: aligned columns and visible control characters.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

// The text as it is, or, when it holds control characters (a line feed in a
// page name, the carriage return git keeps at the end of a subject), in
// double quotes with C escapes, so that one record stays on one line.
std::string for_display(const std::string &text);

// A commit hash as the tables show it: its first 7 digits.
std::string short_hash(const std::string &hash);

// The width of a text on a terminal, counting each UTF-8 sequence once.
size_t display_width(const std::string &text);

// Writes the rows with every column but the last padded to its widest cell
// and two blanks between columns. Columns listed in right_aligned are padded
// on the left.
void print_table(FILE *out, const std::vector<std::vector<std::string>> &rows,
                 const std::vector<size_t> &right_aligned = {});
