// The nine distance kernels: each one metric's distance between columns i and
// j of a compressed-column matrix, computed by one merge walk over both columns.
#pragma once

#include "merge_walk.hpp"
#include "mahalanobis.hpp"

#include <cmath>
#include <cstdint>

namespace rowmetric {

// Every action folds its terms into one accumulator in walk order; the
// operand order of each product and sum is fixed because it decides rounding.
// Absolute values come from std::fabs, which clears the sign bit.

struct SquaredSumAction {
    static constexpr bool kVisitsTails = true;
    double acc = 0.0;
    void onlyInI(std::uint64_t, double a) { acc += a * a; }
    void onlyInJ(std::uint64_t, double b) { acc += b * b; }
    void inBoth(std::uint64_t, double a, double b) {
        const double d = a - b;
        acc += d * d;
    }
};

inline double eucdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      bool squared) {
    SquaredSumAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return squared ? action.acc : std::sqrt(action.acc);
}

struct WeightedSquaredSumAction {
    static constexpr bool kVisitsTails = true;
    const double* weights;
    double acc = 0.0;
    void onlyInI(std::uint64_t r, double a) { acc += (weights[r] * a) * a; }
    void onlyInJ(std::uint64_t r, double b) { acc += (weights[r] * b) * b; }
    void inBoth(std::uint64_t r, double a, double b) {
        const double d = a - b;
        acc += d * (weights[r] * d);
    }
};

inline double seudist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      const double* weights) {
    WeightedSquaredSumAction action{weights};
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return std::sqrt(action.acc);
}

struct AbsoluteSumAction {
    static constexpr bool kVisitsTails = true;
    double acc = 0.0;
    void onlyInI(std::uint64_t, double a) { acc += std::fabs(a); }
    void onlyInJ(std::uint64_t, double b) { acc += std::fabs(b); }
    void inBoth(std::uint64_t, double a, double b) { acc += std::fabs(a - b); }
};

inline double citdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    AbsoluteSumAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return action.acc;
}

struct PowerSumAction {
    static constexpr bool kVisitsTails = true;
    double exponent;
    double acc = 0.0;
    void onlyInI(std::uint64_t, double a) { acc += std::pow(std::fabs(a), exponent); }
    void onlyInJ(std::uint64_t, double b) { acc += std::pow(std::fabs(b), exponent); }
    void inBoth(std::uint64_t, double a, double b) { acc += std::pow(std::fabs(a - b), exponent); }
};

inline double mindist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      double exponent) {
    PowerSumAction action{exponent};
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return std::pow(action.acc, 1.0 / exponent);
}

// The maximum starts at 0 and only a strictly larger term replaces it, so a
// NaN term (every comparison false) never enters the result.
struct AbsoluteMaxAction {
    static constexpr bool kVisitsTails = true;
    double acc = 0.0;
    void take(double x) {
        if (x > acc) {
            acc = x;
        }
    }
    void onlyInI(std::uint64_t, double a) { take(std::fabs(a)); }
    void onlyInJ(std::uint64_t, double b) { take(std::fabs(b)); }
    void inBoth(std::uint64_t, double a, double b) { take(std::fabs(a - b)); }
};

inline double chedist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    AbsoluteMaxAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return action.acc;
}

// Rows stored in one column only add nothing to the inner product, so the
// walk stops at the first exhausted column.
struct InnerProductAction {
    static constexpr bool kVisitsTails = false;
    double acc = 0.0;
    void onlyInI(std::uint64_t, double) {}
    void onlyInJ(std::uint64_t, double) {}
    void inBoth(std::uint64_t, double a, double b) { acc += a * b; }
};

inline double dotdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    InnerProductAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    // Clamped at the upper end only; a NaN sum falls through as NaN.
    if (action.acc > 1.0) {
        return 0.0;
    }
    return 1.0 - action.acc;
}

// "Differ" is decided on the difference, not on a == b: a NaN difference
// differs, and so do two equal infinities (inf - inf is NaN).
struct DifferCountAction {
    static constexpr bool kVisitsTails = true;
    std::uint64_t same = 0;
    std::uint64_t differ = 0;
    void onlyInI(std::uint64_t, double) { ++differ; }
    void onlyInJ(std::uint64_t, double) { ++differ; }
    void inBoth(std::uint64_t, double a, double b) {
        if (a - b == 0.0) {
            ++same;
        } else {
            ++differ;
        }
    }
};

inline double hamdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      std::uint64_t nvars) {
    DifferCountAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    return static_cast<double>(action.differ) / static_cast<double>(nvars);
}

inline double jacdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    DifferCountAction action;
    mergeWalk(values, rowIndex, colStart, i, j, action);
    const double differ = static_cast<double>(action.differ);
    return differ / (static_cast<double>(action.same) + differ);
}

}  // namespace rowmetric
