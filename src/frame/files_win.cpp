#include <sys/stat.h>
#include <stdlib.h>
#include <wchar.h>

#include "frame/files.h"
#include "frame/utf16.h"

FILE *file_open_read(const char *path) {
  wchar_t *w = utf8_to_wide(path);
  if (!w) return nullptr;
  FILE *f = _wfopen(w, L"rb");
  free(w);
  return f;
}

static bool wide_stat(const char *path, struct _stat64 *st) {
  wchar_t *w = utf8_to_wide(path);
  if (!w) return false;
  const bool ok = _wstat64(w, st) == 0;
  free(w);
  return ok;
}

bool file_exists(const char *path) {
  struct _stat64 st;
  return wide_stat(path, &st);
}

bool file_mtime(const char *path, int64_t *seconds) {
  struct _stat64 st;
  if (!wide_stat(path, &st)) return false;
  *seconds = (int64_t)st.st_mtime;
  return true;
}
