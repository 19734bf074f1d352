// Per-metric terms of the order-dependent folds, written exactly as the
// per-pair kernels compute them so that the swept folds round the same way.
#pragma once

#include "kernels.hpp"

#include <cmath>
#include <cstdint>

namespace rowmetric {

// The three compressed-column arrays, as every kernel takes them.
struct MatrixView {
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
};

// Each policy gives:
//   only(v, row)    the term of a row stored in one column only (value v);
//   both(a, b, row) the term of a row stored in both columns;
//   fold(acc, t)    folds a term into the accumulator (which starts at 0.0);
//   finish(acc)     the distance from the folded accumulator;
//   kernel(m, i, j) the per-pair kernel itself.
// The fold keeps the kernel's order of additions, so every finite or infinite
// result has the kernel's bits. A NaN result is different: when both operands
// of an addition are NaN, which one comes out (its sign and payload) is the
// compiler's choice of operand order, not the sum's. The sweeps therefore
// hand every pair whose distance is NaN back to `kernel`.

// fold works on doubles and on GCC vectors of doubles alike; it takes both
// by reference so that no wide vector crosses a function boundary by value.
struct SumFold {
    template <class V>
    static void fold(V& acc, const V& t) {
        acc = acc + t;
    }
};

struct SquaredTerms : SumFold {
    bool squared;
    double only(double v, std::uint64_t) const { return v * v; }
    double both(double a, double b, std::uint64_t) const {
        const double d = a - b;
        return d * d;
    }
    double finish(double acc) const { return squared ? acc : std::sqrt(acc); }
    double kernel(const MatrixView& m, std::uint64_t i, std::uint64_t j) const {
        return eucdist(m.values, m.rowIndex, m.colStart, i, j, squared);
    }
};

struct WeightedSquaredTerms : SumFold {
    const double* weights;
    double only(double v, std::uint64_t r) const { return (weights[r] * v) * v; }
    double both(double a, double b, std::uint64_t r) const {
        const double d = a - b;
        return d * (weights[r] * d);
    }
    double finish(double acc) const { return std::sqrt(acc); }
    double kernel(const MatrixView& m, std::uint64_t i, std::uint64_t j) const {
        return seudist(m.values, m.rowIndex, m.colStart, i, j, weights);
    }
};

struct AbsoluteTerms : SumFold {
    double only(double v, std::uint64_t) const { return std::fabs(v); }
    double both(double a, double b, std::uint64_t) const { return std::fabs(a - b); }
    double finish(double acc) const { return acc; }
    double kernel(const MatrixView& m, std::uint64_t i, std::uint64_t j) const {
        return citdist(m.values, m.rowIndex, m.colStart, i, j);
    }
};

// pow of each stored value is taken once per call instead of once per pair:
// the same arguments give the same bits.
struct PowerTerms : SumFold {
    double exponent;
    double only(double v, std::uint64_t) const { return std::pow(std::fabs(v), exponent); }
    double both(double a, double b, std::uint64_t) const {
        return std::pow(std::fabs(a - b), exponent);
    }
    double finish(double acc) const { return std::pow(acc, 1.0 / exponent); }
    double kernel(const MatrixView& m, std::uint64_t i, std::uint64_t j) const {
        return mindist(m.values, m.rowIndex, m.colStart, i, j, exponent);
    }
};

// Only a strictly larger term replaces the maximum, so NaN never enters it.
struct MaxAbsoluteTerms {
    template <class V>
    static void fold(V& acc, const V& t) {
        acc = t > acc ? t : acc;
    }
    double only(double v, std::uint64_t) const { return std::fabs(v); }
    double both(double a, double b, std::uint64_t) const { return std::fabs(a - b); }
    double finish(double acc) const { return acc; }
    double kernel(const MatrixView& m, std::uint64_t i, std::uint64_t j) const {
        return chedist(m.values, m.rowIndex, m.colStart, i, j);
    }
};

}  // namespace rowmetric
