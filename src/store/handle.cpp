#include "store/handle.h"

#include <stdlib.h>
#include <string.h>

#include "store/fs.h"

void replace_slot(char **slot, char *text) {
  free(*slot);
  *slot = text;
}

void mkdir_p(const char *path) {
  char work[WIKIDB_ROOT_CAP];
  size_t n = strlen(path);
  if (n >= sizeof work) return;
  memcpy(work, path, n + 1);
  for (size_t i = 1; i < n; i++) {
    if (work[i] != '/' && work[i] != '\\') continue;
    work[i] = '\0';
    if (!fs_is_dir(work)) fs_mkdir(work);
    work[i] = path[i];
  }
  if (!fs_is_dir(work)) fs_mkdir(work);
}
