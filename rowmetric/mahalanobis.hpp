// The Mahalanobis kernel: the difference of two sparse columns gathered by the
// merge walk, then the quadratic form d'·U·U'·d with U read as upper triangular.
#pragma once

#include "merge_walk.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rowmetric {

// Collects d = x_i - x_j over the union of stored rows, in ascending row
// order. A zero difference is kept: it still occupies its row of the union.
// The two vectors are owned here, so they are released on every way out,
// including a std::bad_alloc thrown while they grow.
struct DifferenceVectorAction {
    static constexpr bool kVisitsTails = true;
    std::vector<std::uint64_t> rows;
    std::vector<double> diffs;
    void onlyInI(std::uint64_t r, double a) {
        rows.push_back(r);
        diffs.push_back(a);
    }
    void onlyInJ(std::uint64_t r, double b) {
        rows.push_back(r);
        diffs.push_back(-b);
    }
    void inBoth(std::uint64_t r, double a, double b) {
        rows.push_back(r);
        diffs.push_back(a - b);
    }
};

// invFactor is the nvars-by-nvars matrix U in column-major order; only its
// upper triangle (row <= column) is read.
inline double mahdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      const double* invFactor, std::uint64_t nvars) {
    DifferenceVectorAction d;
    mergeWalk(values, rowIndex, colStart, i, j, d);
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
