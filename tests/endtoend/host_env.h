// The few host services the end-to-end tests need, on both platforms: the
// same test source runs against the Linux build and, under wine, against the
// Windows DLL.
#pragma once

#include <string>

namespace host {

// A fresh directory under the system's temporary directory (UTF-8 path),
// removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Sets (or with a null value removes) a variable of this process's
// environment, where the library reads it from.
void set_env(const char *name, const char *value);

bool exists(const std::string &utf8_path);
std::string read_file(const std::string &utf8_path);
void write_file(const std::string &utf8_path, const std::string &bytes);
void make_dirs(const std::string &utf8_path);
void remove_all(const std::string &utf8_path);
// Names of the entries of a directory, sorted.
std::string list_dir(const std::string &utf8_path);

// Whether the directory's volume finds a name in another letter case.
bool case_blind(const std::string &dir);

// Symbolic links; false (with why) when the system would not make one.
bool make_link(const std::string &target, const std::string &link, bool directory, std::string *why);
// Whether the system reports the path as a link (a reparse point on Windows).
bool reported_as_link(const std::string &utf8_path);

// The ANSI code page on Windows; 0 elsewhere.
unsigned ansi_code_page();

}  // namespace host
