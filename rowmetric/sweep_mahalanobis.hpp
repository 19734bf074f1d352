// All pairs of the Mahalanobis form with per-thread scratch instead of two
// growable arrays per pair, and U's rows made contiguous once per call.
#pragma once

#include "mahalanobis.hpp"
#include "merge_walk.hpp"
#include "pair_loop.hpp"
#include "path_thresholds.hpp"
#include "sweep_isa.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace rowmetric {

// Pairs whose quadratic forms are folded side by side: the final sum over k
// is one dependent chain per pair, and interleaving several hides its latency.
constexpr std::uint64_t kMahalanobisGroup = 8;

namespace detail {

// The difference vector in walk order, written into caller-owned arrays.
struct DifferenceInto {
    std::uint64_t* rows;
    double* diffs;
    std::uint64_t count = 0;
    void put(std::uint64_t r, double v) {
        rows[count] = r;
        diffs[count] = v;
        ++count;
    }
};

// U(r, k) for r <= k: at rowMajor[r·stride + k] when U was copied, else at
// columnMajor[r + k·m]. In the copy, elements below the diagonal and the
// padding up to `stride` (a multiple of 8) are +0.0, and every row starts on
// a 64-byte boundary.
struct UpperFactor {
    const double* rowMajor;
    const double* columnMajor;
    std::uint64_t m;
    std::uint64_t stride;
};

constexpr std::uint64_t kVectorDoubles = 8;

inline std::uint64_t paddedLength(std::uint64_t m) {
    return (m + kVectorDoubles - 1) / kVectorDoubles * kVectorDoubles;
}

// A 64-byte aligned view into an over-allocated vector.
inline double* alignedStart(std::vector<double>& v) {
    const auto address = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t misalignment = address % 64;
    return v.data() + (misalignment == 0 ? 0 : (64 - misalignment) / sizeof(double));
}

// t[k] for k >= first row of d: for each entry (r, v) of d in ascending row
// order, t[k] += v·U(r, k) for every k >= r. Each t[k] thus receives the
// entries with r <= k in ascending order, starting from 0.0, as in mahdist.
// With the copied U and a finite v the loop starts at the aligned k below r:
// there U(r, k) is +0.0, v·(+0.0) is ±0.0, and adding ±0.0 leaves t[k] as it
// was (t[k] starts at +0.0 and can never become -0.0). A non-finite v would
// turn those zeros into NaN, so its loop starts exactly at r.
inline void accumulateForm(const std::uint64_t* rows, const double* diffs, std::uint64_t count,
                           const UpperFactor& u, double* t) {
    const std::uint64_t m = u.m;
    for (std::uint64_t e = 0; e < count; ++e) {
        const std::uint64_t r = rows[e];
        const double v = diffs[e];
        if (r >= m) {
            continue;
        }
        if (u.rowMajor == nullptr) {
            for (std::uint64_t k = r; k < m; ++k) {
                t[k] += v * u.columnMajor[r + k * m];
            }
            continue;
        }
        const double* row = u.rowMajor + r * u.stride;
        if (!std::isfinite(v)) {
            for (std::uint64_t k = r; k < m; ++k) {
                t[k] += v * row[k];
            }
            continue;
        }
        double* ta = static_cast<double*>(__builtin_assume_aligned(t, 64));
        const double* ra = static_cast<const double*>(__builtin_assume_aligned(row, 64));
        for (std::uint64_t k = r / kVectorDoubles * kVectorDoubles; k < u.stride; ++k) {
            ta[k] += v * ra[k];
        }
    }
}

// Scratch of one thread: the difference vector of one pair and the t
// vectors of one group of pairs.
struct MahalanobisScratch {
    std::vector<std::uint64_t> rows;
    std::vector<double> diffs;
    std::vector<double> t;
    double* tStart;  // 64-byte aligned, kMahalanobisGroup rows of `stride`

    MahalanobisScratch(std::uint64_t longest, std::uint64_t stride)
        : rows(2 * longest),
          diffs(2 * longest),
          t(kMahalanobisGroup * stride + kVectorDoubles),
          tStart(alignedStart(t)) {}
    MahalanobisScratch(const MahalanobisScratch&) = delete;
    MahalanobisScratch& operator=(const MahalanobisScratch&) = delete;
};

// The pairs (i, i+1) .. (i, n-1), in groups of kMahalanobisGroup. Below a
// pair's first difference row every t[k] is exactly +0.0, and adding
// +0.0·+0.0 to an accumulator that started at +0.0 leaves its bits
// unchanged, so the sum over k starts at the group's smallest first row.
template <class Body>
ROWMETRIC_ISA_CLONES void fillMahalanobisBlock(const Body& body, const UpperFactor& u,
                                               MahalanobisScratch& s, std::uint64_t i) {
    const std::uint64_t n = body.n;
    const std::uint64_t m = u.m;
    const std::uint64_t stride = u.stride;
    double* block = body.out + blockStart(i, n);
    for (std::uint64_t j0 = i + 1; j0 < n; j0 += kMahalanobisGroup) {
        const std::uint64_t group = std::min(kMahalanobisGroup, n - j0);
        bool empty[kMahalanobisGroup] = {};
        std::uint64_t kFrom = m;
        for (std::uint64_t g = 0; g < kMahalanobisGroup; ++g) {
            double* t = s.tStart + g * stride;
            std::fill(t, t + stride, 0.0);
            if (g >= group) {
                continue;
            }
            DifferenceInto d{s.rows.data(), s.diffs.data()};
            DifferenceWalk<DifferenceInto> walk{d};
            mergeWalk(body.values, body.rowIndex, body.colStart, i, j0 + g, walk);
            empty[g] = d.count == 0;
            if (empty[g]) {
                continue;
            }
            kFrom = std::min(kFrom, std::min(d.rows[0], m));
            accumulateForm(d.rows, d.diffs, d.count, u, t);
        }
        double acc[kMahalanobisGroup] = {};
        const double* t = s.tStart;
        for (std::uint64_t k = kFrom; k < m; ++k) {
            for (std::uint64_t g = 0; g < kMahalanobisGroup; ++g) {
                const double tk = t[g * stride + k];
                acc[g] += tk * tk;
            }
        }
        for (std::uint64_t g = 0; g < group; ++g) {
            const double d = empty[g] ? 0.0 : std::sqrt(acc[g]);
            block[j0 + g - i - 1] = d == d ? d : body.distance(i, j0 + g);
        }
    }
}

}  // namespace detail

// The pairs of the body's rows. Its invFactor is the nvars-by-nvars U in column-major order (upper
// triangle read). A NaN distance is recomputed by the body's kernel: which of
// two NaN operands an addition returns is the compiler's choice of operand order.
template <class Body>
void runMahalanobisSweep(const Body& body) {
    countPathRun(Path::mahalanobisSweep);
    const double* invFactor = body.call.invFactor;
    const std::uint64_t m = body.call.nvars;
    const std::uint64_t stride = detail::paddedLength(m);
    std::vector<double> transposed;
    detail::UpperFactor u{nullptr, invFactor, m, m};
    if (m <= kMaxTransposedVars) {
        transposed.assign(m * stride + detail::kVectorDoubles, 0.0);
        double* rowMajor = detail::alignedStart(transposed);
        for (std::uint64_t k = 0; k < m; ++k) {
            for (std::uint64_t r = 0; r <= k; ++r) {
                rowMajor[r * stride + k] = invFactor[r + k * m];
            }
        }
        u = detail::UpperFactor{rowMajor, invFactor, m, stride};
    }

    std::uint64_t longest = 0;
    for (std::uint64_t c = 0; c < body.n; ++c) {
        longest = std::max(longest, body.colStart[c + 1] - body.colStart[c]);
    }
    tbb::enumerable_thread_specific<detail::MahalanobisScratch> scratch(
        [longest, stride = u.stride] { return detail::MahalanobisScratch(longest, stride); });
    parallelForEach(body.rowLimit, [&](std::uint64_t i) {
        detail::fillMahalanobisBlock(body, u, scratch.local(), i);
    });
}

}  // namespace rowmetric
