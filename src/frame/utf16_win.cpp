#include <windows.h>

#include <stdlib.h>

#include "frame/error.h"
#include "frame/utf16.h"

static wchar_t *convert(const char *s, DWORD flags) {
  int n = MultiByteToWideChar(CP_UTF8, flags, s, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  wchar_t *w = static_cast<wchar_t *>(malloc((size_t)n * sizeof(wchar_t)));
  if (!w) {
    note_out_of_memory();
    return nullptr;
  }
  if (MultiByteToWideChar(CP_UTF8, flags, s, -1, w, n) != n) {
    free(w);
    return nullptr;
  }
  return w;
}

wchar_t *utf8_to_wide(const char *s) { return convert(s, MB_ERR_INVALID_CHARS); }

wchar_t *utf8_to_wide_lossy(const char *s) { return convert(s, 0); }

bool wide_to_utf8(const wchar_t *w, size_t len, char *out, size_t cap) {
  if (cap == 0) return false;
  if (len == 0) {
    out[0] = '\0';
    return true;
  }
  int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w, (int)len, out, (int)(cap - 1),
                              nullptr, nullptr);
  if (n <= 0) return false;
  out[n] = '\0';
  return true;
}
