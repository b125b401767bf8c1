#include "git/graph_file.h"

static uint32_t be32(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

static uint64_t be64(const unsigned char *p) { return (uint64_t)be32(p) << 32 | be32(p + 4); }

bool graph_filter_index(const unsigned char *head, size_t head_len, uint64_t *offset,
                        uint64_t *size) {
  *offset = *size = 0;
  if (head_len < 8 || head[0] != 'C' || head[1] != 'G' || head[2] != 'P' || head[3] != 'H')
    return false;
  if (head[4] != 1) return false;  // the only version git writes
  const unsigned chunks = head[6];
  // The table holds one entry per chunk and a closing one.
  if (8 + ((size_t)chunks + 1) * 12 > head_len) return false;
  for (unsigned i = 0; i < chunks; i++) {
    const unsigned char *e = head + 8 + (size_t)i * 12;
    if (e[0] == 'B' && e[1] == 'I' && e[2] == 'D' && e[3] == 'X') {
      const uint64_t start = be64(e + 4), end = be64(e + 16);
      if (start < 8 || end < start) return false;
      *offset = start;
      *size = end - start;
      return true;
    }
  }
  return true;
}

bool graph_filters_complete(const unsigned char *index, size_t len, uint32_t *previous) {
  if (len % 4 != 0) return false;
  for (size_t i = 0; i < len; i += 4) {
    const uint32_t end = be32(index + i);
    if (end <= *previous) return false;
    *previous = end;
  }
  return true;
}
