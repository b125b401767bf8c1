#include <sys/stat.h>

#include "frame/files.h"

FILE *file_open_read(const char *path) { return fopen(path, "rb"); }

bool file_exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

bool file_mtime(const char *path, int64_t *seconds) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *seconds = (int64_t)st.st_mtime;
  return true;
}
