#pragma once

#include <stdint.h>

#include "reports/parse.h"

// The size of path in each commit, asked of git one process per commit.
// The batched query must give exactly these answers.
void history_sizes_one_by_one(const char *root, const log_entry *entries, size_t n,
                              const char *path, int64_t *sizes);
