// The stored entries of each run of `width` adjacent columns, listed in
// ascending row order with each entry's precomputed single-column term.
#pragma once

#include "pair_loop.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

namespace rowmetric {

// One stored entry seen from its column chunk: its row, its value (needed
// when the other column stores the same row), the term it adds when the
// other column does not (the policy's `only`), and its column
// relative to the chunk's first column.
struct ChunkEntry {
    std::uint64_t row;
    double value;
    double term;
    std::uint64_t lane;
};

// Chunk c covers columns c·width .. c·width + width - 1; its entries sit at
// the same positions as the chunk's columns in the compressed-column arrays
// (colStart[c·width] - colStart[0] onwards), ordered by (row, column).
struct ChunkLists {
    std::uint64_t width = 0;
    std::unique_ptr<ChunkEntry[]> entries;  // every slot is written, so none is zeroed first
};

// A chunk's entries are counted into rows while its row span is at most
// this many times its entry count; a wider span is merged instead, so the
// counts never cost more than the entries.
inline constexpr std::uint64_t kChunkSpanPerEntry = 8;

namespace detail {

// One column's next entry in the merge of a chunk's columns.
struct ColumnCursor {
    std::uint64_t row;
    std::uint64_t column;
    std::uint64_t position;
};

// A thread's working space for listing chunks.
struct ChunkScratch {
    std::vector<std::uint64_t> counts;
    std::vector<ColumnCursor> cursors;
};

// Lists the entries of columns [first, end) at `out` in (row, column) order:
// by a counting sort over the rows between the columns' first and last where
// that span is narrow (columns are visited in ascending order, so each row
// keeps its columns ascending), else by merging the columns' ascending rows.
template <class Policy>
void listChunk(const double* values, const std::uint64_t* rowIndex, const std::uint64_t* colStart,
               std::uint64_t first, std::uint64_t end, const Policy& policy, ChunkScratch& s,
               ChunkEntry* out) {
    const std::uint64_t stored = colStart[end] - colStart[first];
    if (stored == 0) {
        return;
    }
    std::uint64_t low = ~std::uint64_t{0};
    std::uint64_t high = 0;
    s.cursors.clear();
    for (std::uint64_t c = first; c < end; ++c) {
        if (colStart[c] != colStart[c + 1]) {
            low = std::min(low, rowIndex[colStart[c]]);
            high = std::max(high, rowIndex[colStart[c + 1] - 1]);
            s.cursors.push_back({rowIndex[colStart[c]], c, colStart[c]});
        }
    }
    const auto entry = [&](std::uint64_t c, std::uint64_t p) {
        const std::uint64_t r = rowIndex[p];
        return ChunkEntry{r, values[p], policy.only(values[p], r), c - first};
    };
    if (high - low >= kChunkSpanPerEntry * stored) {
        // A min-heap on (row, column) of each column's next entry.
        const auto later = [](const ColumnCursor& a, const ColumnCursor& b) {
            return a.row != b.row ? a.row > b.row : a.column > b.column;
        };
        std::make_heap(s.cursors.begin(), s.cursors.end(), later);
        while (!s.cursors.empty()) {
            std::pop_heap(s.cursors.begin(), s.cursors.end(), later);
            ColumnCursor& next = s.cursors.back();
            *out++ = entry(next.column, next.position);
            if (++next.position == colStart[next.column + 1]) {
                s.cursors.pop_back();
                continue;
            }
            next.row = rowIndex[next.position];
            std::push_heap(s.cursors.begin(), s.cursors.end(), later);
        }
        return;
    }
    s.counts.assign(high - low + 2, 0);
    for (std::uint64_t p = colStart[first]; p < colStart[end]; ++p) {
        ++s.counts[rowIndex[p] - low + 1];
    }
    std::partial_sum(s.counts.begin(), s.counts.end(), s.counts.begin());
    for (std::uint64_t c = first; c < end; ++c) {
        for (std::uint64_t p = colStart[c]; p < colStart[c + 1]; ++p) {
            out[s.counts[rowIndex[p] - low]++] = entry(c, p);
        }
    }
}

}  // namespace detail

// The chunks of all n columns, each listed straight from the compressed
// columns, in parallel.
template <class Policy>
ChunkLists buildChunkLists(const double* values, const std::uint64_t* rowIndex,
                           const std::uint64_t* colStart, std::uint64_t n, std::uint64_t width,
                           const Policy& policy) {
    const std::uint64_t chunks = (n + width - 1) / width;
    const std::uint64_t base = colStart[0];
    ChunkLists lists;
    lists.width = width;
    lists.entries.reset(new ChunkEntry[colStart[n] - base]);
    tbb::enumerable_thread_specific<detail::ChunkScratch> scratch;
    parallelForEach(chunks, [&](std::uint64_t c) {
        const std::uint64_t first = c * width;
        detail::listChunk(values, rowIndex, colStart, first, std::min(first + width, n), policy,
                          scratch.local(), lists.entries.get() + (colStart[first] - base));
    });
    return lists;
}

// The lists of narrower chunks (`width` dividing lists.width) of the columns
// below `columns`: each wide chunk's entries dealt in order to the narrow
// chunks of their lanes, which keeps (row, column) order within each.
inline ChunkLists splitChunkLists(const ChunkLists& lists, const std::uint64_t* colStart,
                                  std::uint64_t n, std::uint64_t width, std::uint64_t columns) {
    const std::uint64_t wide = lists.width;
    const std::uint64_t chunks = (std::min(columns, n) + wide - 1) / wide;
    const std::uint64_t base = colStart[0];
    ChunkLists narrow;
    narrow.width = width;
    narrow.entries.reset(new ChunkEntry[colStart[std::min(chunks * wide, n)] - base]);
    parallelForEach(chunks, [&](std::uint64_t c) {
        const std::uint64_t first = c * wide;
        const std::uint64_t end = std::min(first + wide, n);
        std::vector<std::uint64_t> cursor;
        for (std::uint64_t col = first; col < end; col += width) {
            cursor.push_back(colStart[col] - base);
        }
        const ChunkEntry* from = lists.entries.get() + (colStart[first] - base);
        const ChunkEntry* to = lists.entries.get() + (colStart[end] - base);
        for (; from != to; ++from) {
            ChunkEntry e = *from;
            e.lane = from->lane % width;
            narrow.entries[cursor[from->lane / width]++] = e;
        }
    });
    return narrow;
}

}  // namespace rowmetric
