#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform.h"

void stdin_binary() { _setmode(_fileno(stdin), _O_BINARY); }

bool is_directory(const std::string &path) {
  struct _stat64 st;
  return _stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}

std::string absolute_path(const std::string &path) {
  char *abs = _fullpath(nullptr, path.c_str(), 0);
  if (!abs) return path;
  std::string out = abs;
  free(abs);
  return out;
}
