#include "git/commit_graph.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/files.h"
#include "git/graph_file.h"

// The time of a reflog line ("OLD NEW NAME <EMAIL> TIME ZONE\tMESSAGE"), or
// -1 when it has none.
static int64_t reflog_line_time(const char *line, const char *end) {
  const char *tab = static_cast<const char *>(memchr(line, '\t', (size_t)(end - line)));
  const char *p = tab ? tab : end;
  while (p > line && p[-1] != ' ') p--;  // the zone
  if (p == line) return -1;
  p--;
  const char *digits_end = p;
  while (p > line && p[-1] >= '0' && p[-1] <= '9') p--;
  if (p == digits_end || p == line || p[-1] != ' ') return -1;
  int64_t t = 0;
  for (; p < digits_end; p++) t = t * 10 + (*p - '0');
  return t;
}

// Lines at the end of HEAD's reflog written after `since`, counted up to
// `limit`. Only the log's tail is read: when all of it is newer, the count
// is taken as reached.
static unsigned reflog_entries_after(const char *root, int64_t since, unsigned limit) {
  char path[1200];
  int n = snprintf(path, sizeof path, "%s/.git/logs/HEAD", root);
  if (n < 0 || (size_t)n >= sizeof path) return 0;
  FILE *f = file_open_read(path);
  if (!f) return 0;
  char tail[16384];
  long start = 0;
  size_t len = 0;
  if (fseek(f, 0, SEEK_END) == 0) {
    long size = ftell(f);
    if (size > 0) {
      start = size > (long)sizeof tail ? size - (long)sizeof tail : 0;
      if (fseek(f, start, SEEK_SET) == 0) len = fread(tail, 1, (size_t)(size - start), f);
    }
  }
  fclose(f);
  unsigned count = 0;
  const char *end = tail + len;
  while (end > tail && end[-1] == '\n') end--;
  while (end > tail && count < limit) {
    const char *line = end;
    while (line > tail && line[-1] != '\n') line--;
    // The first line of a cut tail is partial.
    if (line == tail && start > 0) return limit;
    int64_t t = reflog_line_time(line, end);
    if (t >= 0 && t <= since) break;
    if (t > since) count++;
    end = line;
    while (end > tail && end[-1] == '\n') end--;
  }
  if (end == tail && start > 0 && count < limit) return limit;
  return count;
}

// Whether HEAD names a commit: its branch exists (loose or packed), or HEAD
// is detached.
bool head_has_commits(const char *root) {
  char path[1200], ref[300];
  int n = snprintf(path, sizeof path, "%s/.git/HEAD", root);
  if (n < 0 || (size_t)n >= sizeof path) return false;
  FILE *f = file_open_read(path);
  if (!f) return false;
  size_t len = fread(ref, 1, sizeof ref - 1, f);
  fclose(f);
  ref[len] = '\0';
  if (strncmp(ref, "ref: ", 5) != 0) return len > 0;
  ref[strcspn(ref, "\r\n")] = '\0';
  n = snprintf(path, sizeof path, "%s/.git/%s", root, ref + 5);
  if (n > 0 && (size_t)n < sizeof path && file_exists(path)) return true;
  n = snprintf(path, sizeof path, "%s/.git/packed-refs", root);
  return n > 0 && (size_t)n < sizeof path && file_exists(path);
}

// Whether the graph file at path gives each of its commits a filter; true
// when it cannot be read as a graph.
static bool layer_complete(const char *path) {
  FILE *f = file_open_read(path);
  if (!f) return true;
  unsigned char head[GRAPH_HEAD_CAP];
  const size_t head_len = fread(head, 1, sizeof head, f);
  uint64_t offset = 0, size = 0;
  bool complete = true;
  if (!graph_filter_index(head, head_len, &offset, &size)) {
    complete = true;
  } else if (offset == 0) {
    complete = false;  // a layer written without any filter
  } else if (fseek(f, (long)offset, SEEK_SET) == 0) {
    unsigned char chunk[4096];
    uint32_t previous = 0;
    while (size > 0 && complete) {
      const size_t want = size < sizeof chunk ? (size_t)size : sizeof chunk;
      const size_t got = fread(chunk, 1, want, f);
      if (got != want) break;  // cut short: not a graph git would read
      complete = graph_filters_complete(chunk, got, &previous);
      size -= got;
    }
  }
  fclose(f);
  return complete;
}

bool commit_graph_filters_complete(const char *root) {
  char path[1200];
  int n = snprintf(path, sizeof path, "%s/.git/objects/info/commit-graph", root);
  if (n < 0 || (size_t)n >= sizeof path) return true;
  if (file_exists(path)) return layer_complete(path);
  n = snprintf(path, sizeof path, "%s/.git/objects/info/commit-graphs/commit-graph-chain", root);
  if (n < 0 || (size_t)n >= sizeof path) return true;
  FILE *chain = file_open_read(path);
  if (!chain) return true;
  // One layer's hash per line, the base first.
  char line[128];
  bool complete = true;
  while (complete && fgets(line, sizeof line, chain)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (!*line) continue;
    n = snprintf(path, sizeof path, "%s/.git/objects/info/commit-graphs/graph-%s.graph", root, line);
    if (n > 0 && (size_t)n < sizeof path) complete = layer_complete(path);
  }
  fclose(chain);
  return complete;
}

static bool graph_written(const char *root, int64_t *written) {
  char path[1200];
  // git reads the single graph file before a split chain.
  int n = snprintf(path, sizeof path, "%s/.git/objects/info/commit-graph", root);
  if (n > 0 && (size_t)n < sizeof path && file_mtime(path, written)) return true;
  n = snprintf(path, sizeof path, "%s/.git/objects/info/commit-graphs/commit-graph-chain", root);
  return n > 0 && (size_t)n < sizeof path && file_mtime(path, written);
}

graph_upkeep commit_graph_upkeep(const char *root, bool due) {
  int64_t written = 0;
  if (!graph_written(root, &written)) return head_has_commits(root) ? GRAPH_ADD : GRAPH_KEEP;
  if (!commit_graph_filters_complete(root)) return GRAPH_FILL;
  // Commits in the same second as the graph count as in it.
  if (due || reflog_entries_after(root, written, GRAPH_REFRESH_COMMITS) >= GRAPH_REFRESH_COMMITS)
    return GRAPH_ADD;
  return GRAPH_KEEP;
}
