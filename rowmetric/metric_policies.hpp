// Each metric's arithmetic, written once: the term of a row stored in one
// column only, the term of a row stored in both, how terms fold, the finish.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace rowmetric {

// A policy P gives:
//   using Acc;                      the accumulator; Acc{} is its start
//   kLoneRows                       false: rows stored in one column add nothing
//   only(v, row)                    term of a row stored in one column (value v)
//   both(a, b, row)                 term of a row stored in both (a from i, b from j)
//   static fold(Acc& acc, term)     folds one term into the accumulator
//   finish(acc)                     the distance
// The merge walk and every sweep fold each pair's terms with these same
// functions, in ascending row order of the pair's union, so every result
// has the same expression tree whichever path computes it. The sums also
// fold GCC vectors of doubles, one pair per lane, so operands are taken by
// reference and no wide vector crosses a call by value; `both`, where it
// also computes such vectors lane by lane, is always inlined.
//
// A NaN result is the one exception: when both operands of an addition are
// NaN, which one comes out (sign, payload) is the compiler's choice of
// operand order, not the sum's. The sweeps hand every pair whose distance is
// NaN back to the body's kernel.

// |x|: std::fabs for a double; for a GCC vector of doubles, lane by lane, the
// sign bits cleared as std::fabs clears them.
inline double absolute(double x) { return std::fabs(x); }

template <class V>
[[gnu::always_inline]] inline V absolute(const V& x) {
    using Bits = decltype(x < x);  // the integer vector with the same lanes
    Bits bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= std::numeric_limits<std::int64_t>::max();
    V magnitude;
    std::memcpy(&magnitude, &bits, sizeof magnitude);
    return magnitude;
}

struct Sum {
    using Acc = double;
    static constexpr bool kLoneRows = true;
    template <class V>
    static void fold(V& acc, const V& t) {
        acc = acc + t;
    }
};

// eucdist: d·d, and the root unless squared.
struct SquaredDifferences : Sum {
    bool squared;
    double only(double v, std::uint64_t) const { return v * v; }
    template <class V>
    [[gnu::always_inline]] V both(const V& a, const V& b, std::uint64_t) const {
        const V d = a - b;
        return d * d;
    }
    double finish(double acc) const { return squared ? acc : std::sqrt(acc); }
};

// seudist: w·d², as (w·a)·a for one column and d·(w·d) for both.
struct WeightedSquares : Sum {
    const double* weights;
    double only(double v, std::uint64_t r) const { return (weights[r] * v) * v; }
    template <class V>
    [[gnu::always_inline]] V both(const V& a, const V& b, std::uint64_t r) const {
        const V d = a - b;
        return d * (weights[r] * d);
    }
    double finish(double acc) const { return std::sqrt(acc); }
};

// citdist: |d|. Absolute values clear the sign bit.
struct AbsoluteDifferences : Sum {
    double only(double v, std::uint64_t) const { return std::fabs(v); }
    template <class V>
    [[gnu::always_inline]] V both(const V& a, const V& b, std::uint64_t) const {
        return absolute(V(a - b));
    }
    double finish(double acc) const { return acc; }
};

// mindist: |d|^p, then the p-th root.
struct PowerDifferences : Sum {
    double exponent;
    double only(double v, std::uint64_t) const { return std::pow(std::fabs(v), exponent); }
    double both(double a, double b, std::uint64_t) const {
        return std::pow(std::fabs(a - b), exponent);
    }
    double finish(double acc) const { return std::pow(acc, 1.0 / exponent); }
};

// chedist: the largest |d|, from 0. Only a strictly larger term replaces it,
// so a NaN term (every comparison false) never enters the result.
struct LargestDifference {
    using Acc = double;
    static constexpr bool kLoneRows = true;
    template <class V>
    static void fold(V& acc, const V& t) {
        acc = t > acc ? t : acc;
    }
    double only(double v, std::uint64_t) const { return std::fabs(v); }
    template <class V>
    [[gnu::always_inline]] V both(const V& a, const V& b, std::uint64_t) const {
        return absolute(V(a - b));
    }
    double finish(double acc) const { return acc; }
};

// dotdist: 1 - the sum of a·b over the rows both columns store, clamped at
// the upper end only (a sum of 1.0 or more gives 0.0; a NaN sum stays NaN).
// `both` also takes a GCC vector b, one column j per lane, for the register
// tiles of fully stored matrices.
struct InnerProduct : Sum {
    static constexpr bool kLoneRows = false;
    template <class V>
    V both(double a, const V& b, std::uint64_t) const {
        return a * b;
    }
    double finish(double acc) const { return acc > 1.0 ? 0.0 : 1.0 - acc; }
};

// hamdist and jacdist count the union rows whose values differ: a row of one
// column always differs; a row of both differs unless a - b == 0.0, so a NaN
// difference differs and so do two equal infinities. Integer counts do not
// depend on order.
struct DifferCount {
    struct Acc {
        std::uint64_t same = 0;
        std::uint64_t differ = 0;
    };
    static constexpr bool kLoneRows = true;
    bool only(double, std::uint64_t) const { return true; }
    bool both(double a, double b, std::uint64_t) const { return !(a - b == 0.0); }
    static void fold(Acc& acc, bool differs) {
        acc.differ += differs;
        acc.same += !differs;
    }
    // The counts over the whole union from the counts over the shared rows:
    // the other storedI + storedJ - 2·shared rows are each in one column only.
    static Acc withLoneRows(Acc shared, std::uint64_t storedI, std::uint64_t storedJ) {
        shared.differ += storedI + storedJ - 2 * (shared.same + shared.differ);
        return shared;
    }
};

struct HammingCount : DifferCount {
    std::uint64_t nvars;
    double finish(const Acc& acc) const {
        return static_cast<double>(acc.differ) / static_cast<double>(nvars);
    }
};

struct JaccardCount : DifferCount {
    double finish(const Acc& acc) const {
        const double differ = static_cast<double>(acc.differ);
        return differ / (static_cast<double>(acc.same) + differ);
    }
};

}  // namespace rowmetric
