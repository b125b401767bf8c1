// Reading git's commit-graph files: only what tells whether every commit in
// a layer carries its changed-path filter. Plain functions over bytes, apart
// from the file access, so they can be tested and fuzzed on their own.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Bytes of a graph file's header and chunk table worth reading: the 8-byte
// header and up to 31 table entries of 12 bytes (git writes nine kinds of
// chunk at most).
enum { GRAPH_HEAD_CAP = 8 + 32 * 12 };

// Where the filter index chunk ("BIDX") lies in a graph file, from its
// first bytes (header and chunk table, head_len of them). False when the
// bytes are no graph file git could read; *offset is 0 when the layer has no
// filters at all (a chunk never starts there: the header does).
bool graph_filter_index(const unsigned char *head, size_t head_len, uint64_t *offset,
                        uint64_t *size);

// Whether a piece of an index chunk (one 4-byte big-endian end offset per
// commit) gives every commit a filter. git writes a filter of at least one
// byte for each commit it computed one for, so an offset that does not grow
// marks a commit left without. The chunk may come in pieces of whole
// entries: *previous carries the last offset from one to the next (0 before
// the first). A piece that is no whole number of entries counts as
// incomplete.
bool graph_filters_complete(const unsigned char *index, size_t len, uint32_t *previous);
