#include <stdlib.h>
#include <sys/stat.h>

#include "platform.h"

void stdin_binary() {}

bool is_directory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolute_path(const std::string &path) {
  char *abs = realpath(path.c_str(), nullptr);
  if (!abs) return path;
  std::string out = abs;
  free(abs);
  return out;
}
