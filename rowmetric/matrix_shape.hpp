// What the path choice measures of X once per call: columns, stored entries,
// the row range, and how unevenly the entries are spread over the rows.
#pragma once

#include "path_thresholds.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace rowmetric {

struct MatrixShape {
    std::uint64_t n = 0;       // columns (observations)
    std::uint64_t rows = 0;    // one past the largest stored row
    std::uint64_t stored = 0;  // stored entries
    // Pairs of entries that share a row, the sum over rows of c(c-1)/2 for a
    // row stored by c columns: the shared-row sweeps' step count. For a given
    // number of entries it is smallest when every row holds the same count and
    // grows as a few rows fill up. Measured only where the row index is
    // affordable; 0 otherwise.
    long double sameRowPairs = 0;
    std::uint64_t longestColumn = 0;  // the most entries one column stores
};

// Whether the fast paths may build a row index: its columns are 32-bit, and
// its counting array over the rows must not dwarf the stored entries.
constexpr bool rowIndexAffordable(const MatrixShape& shape) {
    return shape.n < std::numeric_limits<std::uint32_t>::max() &&
           shape.rows <= kRowRangePerEntry * shape.stored + kRowRangeSlack;
}

// Every column stores rows 0 .. rows-1: the stored count is rows times n
// exactly, since rows ascend strictly within a column.
constexpr bool fullyStored(const MatrixShape& shape) {
    if (shape.n == 0 || shape.rows == 0) {
        return false;
    }
    if (shape.rows > std::numeric_limits<std::uint64_t>::max() / shape.n) {
        return false;
    }
    return shape.stored == shape.rows * shape.n;
}

inline MatrixShape measureMatrix(const std::uint64_t* rowIndex, const std::uint64_t* colStart,
                                 std::uint64_t n) {
    MatrixShape shape;
    shape.n = n;
    shape.stored = colStart[n] - colStart[0];
    for (std::uint64_t c = 0; c < n; ++c) {
        shape.longestColumn = std::max(shape.longestColumn, colStart[c + 1] - colStart[c]);
    }
    for (std::uint64_t p = colStart[0]; p < colStart[n]; ++p) {
        if (rowIndex[p] >= shape.rows) {
            shape.rows = rowIndex[p] + 1;
        }
    }
    if (!rowIndexAffordable(shape)) {
        return shape;
    }
    std::vector<std::uint64_t> perRow(shape.rows);
    for (std::uint64_t p = colStart[0]; p < colStart[n]; ++p) {
        ++perRow[rowIndex[p]];
    }
    for (const std::uint64_t count : perRow) {
        const long double c = static_cast<long double>(count);
        shape.sameRowPairs += c * (c - 1) / 2;
    }
    return shape;
}

// The shape the paths work with when they compute a slice from row `first`
// on, that is, the first rows of the columns from `first` on (see withBody):
// their count and stored entries, and the whole matrix's row range and
// longest column (upper bounds that a fully stored matrix keeps exactly). The
// path itself is chosen from the whole matrix's shape, so sameRowPairs is not
// measured again.
inline MatrixShape columnsFrom(const MatrixShape& whole, const std::uint64_t* colStart,
                               std::uint64_t first) {
    MatrixShape shape;
    shape.n = whole.n - first;
    shape.rows = whole.rows;
    shape.stored = colStart[whole.n] - colStart[first];
    shape.longestColumn = whole.longestColumn;
    return shape;
}

}  // namespace rowmetric
