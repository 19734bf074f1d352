// Row-major view of a compressed-column matrix, built once per call: for every
// row, its stored entries in ascending column order, and each entry's twin.
#pragma once

#include "matrix_shape.hpp"
#include "pair_loop.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rowmetric {

// The transpose of the matrix. Slot s (0 .. stored-1) is one stored entry in
// row-major order: rows ascending, and within a row columns ascending.
// twin[p - colStart[0]] is the slot of the entry at compressed-column
// position p, so the entries of row r to the right of column i start right
// after the twin of column i's own entry in row r.
struct RowIndex {
    std::vector<std::uint64_t> rowStart;  // rows + 1 slot starts
    std::vector<std::uint32_t> column;    // column of each slot
    std::vector<double> value;            // value of each slot
    std::vector<std::uint64_t> twin;      // slot of each compressed-column position
};

// The index is built by up to kIndexParts parts of the columns at once. Each
// part keeps a cursor per row, so parts are limited to one per `rows` stored
// entries: the cursors never take more memory than the entries themselves.
inline constexpr std::uint64_t kIndexParts = 4;

inline std::uint64_t indexParts(const MatrixShape& shape) {
    const std::uint64_t perRows = shape.rows == 0 ? 1 : shape.stored / shape.rows;
    return std::clamp<std::uint64_t>(perRows, 1, std::min<std::uint64_t>(kIndexParts, shape.n));
}

// Counting sort by row, in parts of adjacent columns with about equal entry
// counts: each part counts its rows, then writes its entries after those of
// the parts to its left in the same row. Columns are visited in ascending
// order, so every row's slots come out in ascending column order, whatever
// the number of threads.
inline RowIndex buildRowIndex(const double* values, const std::uint64_t* rowIndex,
                              const std::uint64_t* colStart, const MatrixShape& shape) {
    RowIndex index;
    index.rowStart.assign(shape.rows + 1, 0);
    index.column.resize(shape.stored);
    index.value.resize(shape.stored);
    index.twin.resize(shape.stored);
    if (shape.n == 0) {
        return index;
    }

    const std::uint64_t base = colStart[0];
    const std::uint64_t parts = indexParts(shape);
    std::vector<std::uint64_t> cut(parts + 1, shape.n);
    for (std::uint64_t k = 0; k < parts; ++k) {
        const std::uint64_t target = base + shape.stored / parts * k;
        cut[k] = static_cast<std::uint64_t>(std::lower_bound(colStart, colStart + shape.n, target) -
                                            colStart);
    }
    cut[0] = 0;
    std::vector<std::vector<std::uint64_t>> cursor(parts);
    parallelForEach(parts, [&](std::uint64_t k) {
        cursor[k].assign(shape.rows, 0);
        for (std::uint64_t p = colStart[cut[k]]; p < colStart[cut[k + 1]]; ++p) {
            ++cursor[k][rowIndex[p]];
        }
    });
    std::uint64_t slot = 0;
    for (std::uint64_t r = 0; r < shape.rows; ++r) {
        for (std::uint64_t k = 0; k < parts; ++k) {
            const std::uint64_t count = cursor[k][r];
            cursor[k][r] = slot;
            slot += count;
        }
        index.rowStart[r + 1] = slot;
    }
    parallelForEach(parts, [&](std::uint64_t k) {
        std::uint64_t* next = cursor[k].data();
        for (std::uint64_t c = cut[k]; c < cut[k + 1]; ++c) {
            for (std::uint64_t p = colStart[c]; p < colStart[c + 1]; ++p) {
                const std::uint64_t s = next[rowIndex[p]]++;
                index.column[s] = static_cast<std::uint32_t>(c);
                index.value[s] = values[p];
                index.twin[p - base] = s;
            }
        }
    });
    return index;
}

}  // namespace rowmetric
