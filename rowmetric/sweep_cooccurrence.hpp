// All-pairs inner products and differ counts by co-occurrence: only rows that
// both columns store are visited, through the row index, in ascending order.
#pragma once

#include "kernels.hpp"
#include "pair_loop.hpp"
#include "sweep_row_index.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rowmetric {

namespace detail {

// For each entry (r, a) of column i in ascending row order, calls
// onPair(j, a, b) for every column j > i that stores row r with value b.
// A pair therefore sees its shared rows in ascending order.
template <class OnPair>
inline void forEachSharedRow(const double* values, const std::uint64_t* rowIndex,
                             const std::uint64_t* colStart, const RowIndex& index, std::uint64_t i,
                             OnPair&& onPair) {
    const std::uint64_t base = colStart[0];
    for (std::uint64_t p = colStart[i]; p < colStart[i + 1]; ++p) {
        const double a = values[p];
        const std::uint64_t end = index.rowStart[rowIndex[p] + 1];
        for (std::uint64_t s = index.twin[p - base] + 1; s < end; ++s) {
            onPair(index.column[s], a, index.value[s]);
        }
    }
}

}  // namespace detail

// The shared-row sweeps cost one step per pair of entries in the same row,
// sum over rows of c(c-1)/2; the pair loop costs at most (n-1) merge steps
// per stored entry. On dense-like data, where every row is shared by most
// columns, the merge walk's branches predict well and its steps are as cheap
// as the sweep's scattered updates, so the sweep is used only when it makes
// at most a quarter as many steps.
inline bool sharedRowSweepPays(const RowIndex& index, const MatrixShape& shape) {
    long double products = 0;
    for (std::uint64_t r = 0; r + 1 < index.rowStart.size(); ++r) {
        const long double c = static_cast<long double>(index.rowStart[r + 1] - index.rowStart[r]);
        products += c * (c - 1) / 2;
    }
    const long double walkSteps = static_cast<long double>(shape.n - 1) * shape.stored;
    return 4 * products <= walkSteps;
}

// 1 - (sum of a·b over the shared rows), clamped at 0 above, for every pair.
// The products are summed in the result block itself: it starts at 0.0 and
// each pair receives its products in ascending row order, as in dotdist. A
// NaN distance is recomputed by dotdist, because which of two NaN operands
// an addition returns is the compiler's choice of operand order.
inline void runInnerProductSweep(const double* values, const std::uint64_t* rowIndex,
                                 const std::uint64_t* colStart, const MatrixShape& shape,
                                 const RowIndex& index, double* out) {
    const std::uint64_t n = shape.n;
    parallelForEach(n, [&](std::uint64_t i) {
        double* block = out + blockStart(i, n);
        const std::uint64_t len = n - 1 - i;
        std::fill(block, block + len, 0.0);
        detail::forEachSharedRow(
            values, rowIndex, colStart, index, i,
            [block, i](std::uint64_t j, double a, double b) { block[j - i - 1] += a * b; });
        for (std::uint64_t k = 0; k < len; ++k) {
            const double acc = block[k];
            const double d = acc > 1.0 ? 0.0 : 1.0 - acc;
            block[k] = d == d ? d : dotdist(values, rowIndex, colStart, i, i + 1 + k);
        }
    });
}

// Which differ-count distance to finish with.
enum class CountDistance { hamming, jaccard };

// Counts of a pair are integers, so their order never matters: a row stored
// in one column only differs; a shared row differs unless a - b == 0.0. With
// `shared` and `same` counted over the shared rows,
//   differ = count(i) + count(j) - shared - same,
// and the distance is formed from the same integers as in hamdist/jacdist.
inline void runCountSweep(const double* values, const std::uint64_t* rowIndex,
                          const std::uint64_t* colStart, const MatrixShape& shape,
                          const RowIndex& index, double* out, CountDistance distance,
                          std::uint64_t nvars) {
    const std::uint64_t n = shape.n;
    struct Counts {
        std::vector<std::uint64_t> shared;
        std::vector<std::uint64_t> same;
    };
    tbb::enumerable_thread_specific<Counts> scratch([n] {
        return Counts{std::vector<std::uint64_t>(n), std::vector<std::uint64_t>(n)};
    });
    parallelForEach(n, [&](std::uint64_t i) {
        Counts& counts = scratch.local();
        std::uint64_t* shared = counts.shared.data();
        std::uint64_t* same = counts.same.data();
        std::fill(shared + i + 1, shared + n, 0);
        std::fill(same + i + 1, same + n, 0);
        detail::forEachSharedRow(values, rowIndex, colStart, index, i,
                                 [shared, same](std::uint64_t j, double a, double b) {
                                     ++shared[j];
                                     same[j] += (a - b == 0.0) ? 1 : 0;
                                 });
        double* block = out + blockStart(i, n);
        const std::uint64_t countI = colStart[i + 1] - colStart[i];
        for (std::uint64_t j = i + 1; j < n; ++j) {
            const std::uint64_t differ =
                countI + (colStart[j + 1] - colStart[j]) - shared[j] - same[j];
            if (distance == CountDistance::hamming) {
                block[j - i - 1] = static_cast<double>(differ) / static_cast<double>(nvars);
            } else {
                const double d = static_cast<double>(differ);
                block[j - i - 1] = d / (static_cast<double>(same[j]) + d);
            }
        }
    });
}

}  // namespace rowmetric
