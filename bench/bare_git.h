// The floor: git run straight from the benchmark with posix_spawnp, with the
// same "--no-pager -C ROOT" prefix the library puts before every command, and
// nothing else around it.
#pragma once

#include <string>
#include <vector>

// Runs git in root with args; standard output and error joined into *out
// when out is non-null. input, when non-null, is fed to standard input while
// the output is read. Returns git's exit status, -1 when git could not start.
int bare_git(const std::string &root, const std::vector<std::string> &args,
             std::string *out = nullptr, const std::string *input = nullptr);

// As bare_git, but fails the benchmark (message, exit 1) on a non-zero status:
// for fixture building, where a failure means the numbers would be wrong.
std::string must_git(const std::string &root, const std::vector<std::string> &args,
                     const std::string *input = nullptr);
