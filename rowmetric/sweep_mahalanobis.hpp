// All pairs of the Mahalanobis form with per-thread scratch instead of two
// growable arrays per pair, and U's rows made contiguous once per call.
#pragma once

#include "mahalanobis.hpp"
#include "merge_walk.hpp"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace rowmetric {

// Pairs whose quadratic forms are folded side by side: the final sum over k
// is one dependent chain per pair, and interleaving several hides its latency.
constexpr std::uint64_t kMahalanobisGroup = 4;
// Up to this many variables U is copied row-major (at most 32 MiB) so that
// t[k] += d_r·U(r, k) runs over contiguous memory; above it U is read in place.
constexpr std::uint64_t kMaxTransposedVars = 2048;

namespace detail {

// The difference vector in walk order, written into caller-owned arrays.
struct DifferenceInto {
    static constexpr bool kVisitsTails = true;
    std::uint64_t* rows;
    double* diffs;
    std::uint64_t count = 0;
    void put(std::uint64_t r, double v)
    {
        rows[count] = r;
        diffs[count] = v;
        ++count;
    }
    void onlyInI(std::uint64_t r, double a) { put(r, a); }
    void onlyInJ(std::uint64_t r, double b) { put(r, -b); }
    void inBoth(std::uint64_t r, double a, double b) { put(r, a - b); }
};

// U(r, k) for r <= k, at ut[r·m + k] when transposed, else at u[r + k·m].
struct UpperFactor {
    const double* data;
    std::uint64_t m;
    bool rowMajor;
};

// t[k] for k >= first row of d: for each entry (r, v) of d in ascending row
// order, t[k] += v·U(r, k) for every k >= r. Each t[k] thus receives the
// entries with r <= k in ascending order, starting from 0.0, as in mahdist.
inline void accumulateForm(const std::uint64_t* rows, const double* diffs, std::uint64_t count,
                           const UpperFactor& u, double* t)
{
    const std::uint64_t m = u.m;
    for (std::uint64_t e = 0; e < count; ++e) {
        const std::uint64_t r = rows[e];
        const double v = diffs[e];
        if (u.rowMajor) {
            const double* row = u.data + r * m;
            for (std::uint64_t k = r; k < m; ++k) {
                t[k] += v * row[k];
            }
        } else {
            for (std::uint64_t k = r; k < m; ++k) {
                t[k] += v * u.data[r + k * m];
            }
        }
    }
}

} // namespace detail

// invFactor: the nvars-by-nvars U in column-major order (upper triangle read).
// A NaN distance is recomputed by mahdist: which of two NaN operands an
// addition returns is the compiler's choice of operand order.
// Below a pair's first difference row every t[k] is exactly +0.0, and adding
// +0.0·+0.0 to an accumulator that started at +0.0 leaves its bits unchanged,
// so the sum over k may start at that row.
inline void runMahalanobisSweep(const double* values, const std::uint64_t* rowIndex,
                                const std::uint64_t* colStart, std::uint64_t n, double* out,
                                const double* invFactor, std::uint64_t nvars)
{
    const std::uint64_t m = nvars;
    std::vector<double> transposed;
    detail::UpperFactor u{invFactor, m, false};
    if (m <= kMaxTransposedVars) {
        transposed.assign(m * m, 0.0);
        for (std::uint64_t k = 0; k < m; ++k) {
            for (std::uint64_t r = 0; r <= k; ++r) {
                transposed[r * m + k] = invFactor[r + k * m];
            }
        }
        u = detail::UpperFactor{transposed.data(), m, true};
    }

    std::uint64_t longest = 0;
    for (std::uint64_t c = 0; c < n; ++c) {
        longest = std::max(longest, colStart[c + 1] - colStart[c]);
    }
    struct Scratch {
        std::vector<std::uint64_t> rows;
        std::vector<double> diffs;
        std::vector<double> t;
    };
    tbb::enumerable_thread_specific<Scratch> scratch([longest, m] {
        return Scratch{std::vector<std::uint64_t>(2 * longest), std::vector<double>(2 * longest),
                       std::vector<double>(kMahalanobisGroup * m)};
    });

    tbb::task_group_context context;
    tbb::parallel_for(
        tbb::blocked_range<std::uint64_t>(0, n, 1),
        [&](const tbb::blocked_range<std::uint64_t>& range) {
            Scratch& s = scratch.local();
            for (std::uint64_t i = range.begin(); i != range.end(); ++i) {
                double* block = out + (i * n - i * (i + 1) / 2);
                for (std::uint64_t j0 = i + 1; j0 < n; j0 += kMahalanobisGroup) {
                    const std::uint64_t group = std::min(kMahalanobisGroup, n - j0);
                    bool empty[kMahalanobisGroup] = {};
                    std::uint64_t kFrom = m;
                    for (std::uint64_t g = 0; g < group; ++g) {
                        detail::DifferenceInto d{s.rows.data(), s.diffs.data()};
                        mergeWalk(values, rowIndex, colStart, i, j0 + g, d);
                        empty[g] = d.count == 0;
                        double* t = s.t.data() + g * m;
                        if (empty[g]) {
                            std::fill(t, t + m, 0.0);
                            continue;
                        }
                        const std::uint64_t first = std::min(d.rows[0], m);
                        kFrom = std::min(kFrom, first);
                        std::fill(t, t + m, 0.0);
                        detail::accumulateForm(d.rows, d.diffs, d.count, u, t);
                    }
                    double acc[kMahalanobisGroup] = {};
                    const double* t = s.t.data();
                    for (std::uint64_t k = kFrom; k < m; ++k) {
                        for (std::uint64_t g = 0; g < kMahalanobisGroup; ++g) {
                            const double tk = g < group ? t[g * m + k] : 0.0;
                            acc[g] += tk * tk;
                        }
                    }
                    for (std::uint64_t g = 0; g < group; ++g) {
                        const double d = empty[g] ? 0.0 : std::sqrt(acc[g]);
                        block[j0 + g - i - 1] =
                            d == d ? d
                                   : mahdist(values, rowIndex, colStart, i, j0 + g, invFactor, m);
                    }
                }
            }
        },
        tbb::auto_partitioner(), context);
}

} // namespace rowmetric
