// The stored entries of each run of `width` adjacent columns, listed in
// ascending row order with each entry's precomputed single-column term.
#pragma once

#include "sweep_row_index.hpp"

#include <algorithm>
#include <cstdint>
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
    std::vector<ChunkEntry> entries;
};

// The chunks of the columns below `columns` (rounded up to whole chunks, at
// most shape.n): walks the row index in slot order and deals each entry to
// its chunk. Slot order is (row, column) order, so every chunk receives its
// entries sorted.
template <class Policy>
ChunkLists buildChunkLists(const RowIndex& index, const std::uint64_t* colStart,
                           const MatrixShape& shape, std::uint64_t width, std::uint64_t columns,
                           const Policy& policy) {
    const std::uint64_t chunks = (std::min(columns, shape.n) + width - 1) / width;
    const std::uint64_t end = std::min(chunks * width, shape.n);
    ChunkLists lists;
    lists.width = width;
    lists.entries.resize(colStart[end] - colStart[0]);
    std::vector<std::uint64_t> cursor(chunks);
    for (std::uint64_t c = 0; c < chunks; ++c) {
        cursor[c] = colStart[c * width] - colStart[0];
    }
    for (std::uint64_t r = 0; r < shape.rows; ++r) {
        for (std::uint64_t s = index.rowStart[r]; s < index.rowStart[r + 1]; ++s) {
            const std::uint64_t col = index.column[s];
            if (col >= end) {
                continue;
            }
            const double v = index.value[s];
            lists.entries[cursor[col / width]++] = ChunkEntry{r, v, policy.only(v, r), col % width};
        }
    }
    return lists;
}

}  // namespace rowmetric
