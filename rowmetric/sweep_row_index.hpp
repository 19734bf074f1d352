// Row-major view of a compressed-column matrix, built once per call: for every
// row, its stored entries in ascending column order, and each entry's twin.
#pragma once

#include "matrix_shape.hpp"

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

// Counting sort by row. Columns are visited in ascending order, so every row's
// slots come out in ascending column order with no further sorting.
inline RowIndex buildRowIndex(const double* values, const std::uint64_t* rowIndex,
                              const std::uint64_t* colStart, const MatrixShape& shape) {
    RowIndex index;
    index.rowStart.assign(shape.rows + 1, 0);
    index.column.resize(shape.stored);
    index.value.resize(shape.stored);
    index.twin.resize(shape.stored);

    const std::uint64_t base = colStart[0];
    for (std::uint64_t p = base; p < colStart[shape.n]; ++p) {
        ++index.rowStart[rowIndex[p] + 1];
    }
    for (std::uint64_t r = 0; r < shape.rows; ++r) {
        index.rowStart[r + 1] += index.rowStart[r];
    }
    std::vector<std::uint64_t> cursor(index.rowStart.begin(), index.rowStart.end() - 1);
    for (std::uint64_t c = 0; c < shape.n; ++c) {
        for (std::uint64_t p = colStart[c]; p < colStart[c + 1]; ++p) {
            const std::uint64_t slot = cursor[rowIndex[p]]++;
            index.column[slot] = static_cast<std::uint32_t>(c);
            index.value[slot] = values[p];
            index.twin[p - base] = slot;
        }
    }
    return index;
}

}  // namespace rowmetric
