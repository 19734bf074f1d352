// The Mahalanobis kernel: the difference of two sparse columns gathered by the
// merge walk, then the quadratic form d'·U·U'·d with U read as upper triangular.
#pragma once

#include "merge_walk.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rowmetric {

// The walk's action that hands d = x_i - x_j over the union of stored rows,
// in ascending row order, to sink.put(row, value): a for a row of column i
// only, -b for a row of column j only, a - b for a row of both (kept when
// zero: it still occupies its row of the union).
template <class Sink>
struct DifferenceWalk {
    static constexpr bool kVisitsTails = true;
    Sink& sink;
    void onlyInI(std::uint64_t r, double a) { sink.put(r, a); }
    void onlyInJ(std::uint64_t r, double b) { sink.put(r, -b); }
    void inBoth(std::uint64_t r, double a, double b) { sink.put(r, a - b); }
};

// The kernel's two growable arrays. They are owned here, so they are
// released on every way out, including a std::bad_alloc thrown as they grow.
struct GrowingDifference {
    std::vector<std::uint64_t> rows;
    std::vector<double> diffs;
    void put(std::uint64_t r, double v) {
        rows.push_back(r);
        diffs.push_back(v);
    }
};

// invFactor is the nvars-by-nvars matrix U in column-major order; only its
// upper triangle (row <= column) is read.
inline double mahdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      const double* invFactor, std::uint64_t nvars) {
    GrowingDifference d;
    DifferenceWalk<GrowingDifference> walk{d};
    mergeWalk(values, rowIndex, colStart, i, j, walk);
    if (d.rows.empty()) {
        return 0.0;
    }
    const std::size_t count = d.rows.size();
    double acc = 0.0;
    for (std::uint64_t k = 0; k < nvars; ++k) {
        const double* column = invFactor + k * nvars;
        double t = 0.0;
        for (std::size_t e = 0; e < count && d.rows[e] <= k; ++e) {
            t += d.diffs[e] * column[d.rows[e]];
        }
        acc += t * t;
    }
    return std::sqrt(acc);
}

}  // namespace rowmetric
