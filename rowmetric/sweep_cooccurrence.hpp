// All pairs by co-occurrence: each pair sees only the rows both columns
// store, through the row index, in ascending order.
#pragma once

#include "pair_loop.hpp"
#include "sweep_row_index.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rowmetric {

namespace detail {

// For each entry (r, a) of column i in ascending row order, calls
// onPair(j, a, b, r) for every column j > i that stores row r with value b.
// A pair therefore sees its shared rows in ascending order.
template <class OnPair>
inline void forEachSharedRow(const double* values, const std::uint64_t* rowIndex,
                             const std::uint64_t* colStart, const RowIndex& index, std::uint64_t i,
                             OnPair&& onPair) {
    const std::uint64_t base = colStart[0];
    for (std::uint64_t p = colStart[i]; p < colStart[i + 1]; ++p) {
        const double a = values[p];
        const std::uint64_t r = rowIndex[p];
        const std::uint64_t end = index.rowStart[r + 1];
        for (std::uint64_t s = index.twin[p - base] + 1; s < end; ++s) {
            onPair(index.column[s], a, index.value[s], r);
        }
    }
}

}  // namespace detail

// For policies whose rows of one column add nothing (the inner product), or
// add what their count alone decides (the differ counts, through
// withLoneRows): each pair folds the terms of its shared rows in ascending
// row order, then the lone rows are accounted for. A NaN distance is
// recomputed by the body's kernel.
template <class Body>
void runSharedRowSweep(const Body& body, const MatrixShape& shape) {
    countPathRun(Path::sharedRowSweep);
    const auto policy = body.call.policy();
    using Policy = decltype(policy);
    using Acc = typename Policy::Acc;
    const std::uint64_t n = shape.n;
    const std::uint64_t* colStart = body.colStart;
    const RowIndex index = buildRowIndex(body.values, body.rowIndex, colStart, shape);
    tbb::enumerable_thread_specific<std::vector<Acc>> scratch([n] { return std::vector<Acc>(n); });
    parallelForEach(body.rowLimit, [&](std::uint64_t i) {
        Acc* acc = scratch.local().data();
        std::fill(acc + i + 1, acc + n, Acc{});
        detail::forEachSharedRow(
            body.values, body.rowIndex, colStart, index, i,
            [acc, &policy](std::uint64_t j, double a, double b, std::uint64_t r) {
                Policy::fold(acc[j], policy.both(a, b, r));
            });
        double* block = body.out + blockStart(i, n);
        const std::uint64_t storedI = colStart[i + 1] - colStart[i];
        for (std::uint64_t j = i + 1; j < n; ++j) {
            Acc whole = acc[j];
            if constexpr (Policy::kLoneRows) {
                whole = Policy::withLoneRows(whole, storedI, colStart[j + 1] - colStart[j]);
            }
            const double d = policy.finish(whole);
            block[j - i - 1] = d == d ? d : body.distance(i, j);
        }
    });
}

}  // namespace rowmetric
