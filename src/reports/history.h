#pragma once

#include <stdint.h>

#include "frame/strbuf.h"
#include "reports/parse.h"

// The size of path in each commit, asked of git one process per commit.
// The batched query must give exactly these answers.
void history_sizes_one_by_one(const char *root, const log_entry *entries, size_t n,
                              const char *path, int64_t *sizes);

// The two ways a page history learns its sizes: asking each commit's
// "HASH:PATH", which walks the commit's trees down to the page, or asking
// the object ids the log's own diff entries name.
enum history_sizes_way { SIZES_BY_PATH, SIZES_BY_ID };

// The way that is cheaper in this wiki: by id when its objects are packed
// and its index is at least this large (about 800 pages), else by path.
enum { HISTORY_BY_ID_INDEX_BYTES = 64 * 1024 };
history_sizes_way history_sizes_way_for(const char *root);

// The JSON array of the page's history (path: "pages/T.wiki"), its sizes
// found the given way; both ways give the same text.
void page_history_json(const char *root, const char *path, history_sizes_way way, strbuf *json);
