// Compressed-column test matrices for the kernel, pair-loop and fast-path
// tests: built from column lists or at random, densified, compared bit for bit.
#pragma once

#include "metric_bodies.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace rmtest {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Csc {
    std::uint64_t rows = 0;
    std::vector<double> values;
    std::vector<std::uint64_t> rowIndex;
    std::vector<std::uint64_t> colStart{0};
    std::uint64_t cols() const { return colStart.size() - 1; }
};

using Column = std::vector<std::pair<std::uint64_t, double>>;  // ascending rows

inline Csc fromColumns(std::uint64_t rows, const std::vector<Column>& columns) {
    Csc m;
    m.rows = rows;
    for (const Column& column : columns) {
        for (const auto& [r, v] : column) {
            m.rowIndex.push_back(r);
            m.values.push_back(v);
        }
        m.colStart.push_back(m.values.size());
    }
    return m;
}

enum class Values { wild, binary, finite };

// wild: reals of both signs, with NaN, +-inf, +-0 stored explicitly and
// small integers that make equal values meet at the same row.
// binary: stored 0 and 1 only, as presence/absence data arrives.
// finite: reals of both signs, where the order of a sum shows in its bits.
inline double drawValue(std::mt19937_64& rng, Values kind) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double u = unit(rng);
    if (kind == Values::binary) {
        return u < 0.2 ? 0.0 : 1.0;
    }
    if (kind == Values::finite) {
        return u * 4.0 - 2.0;
    }
    if (u < 0.03) return kNaN;
    if (u < 0.05) return kInf;
    if (u < 0.07) return -kInf;
    if (u < 0.10) return 0.0;
    if (u < 0.12) return -0.0;
    if (u < 0.30) return static_cast<double>(static_cast<int>(rng() % 3) - 1);
    return unit(rng) * 4.0 - 2.0;
}

// Each column picks its density from {0, density/4, density, 3·density}
// (capped at 1), so empty and crowded columns sit next to ordinary ones.
inline Csc randomCsc(std::uint64_t rows, std::uint64_t cols, double density, std::uint64_t seed,
                     Values kind = Values::wild, std::uint64_t rowStride = 1) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double choices[] = {0.0, density / 4, density, density * 3};
    Csc m;
    m.rows = rows * rowStride;
    for (std::uint64_t c = 0; c < cols; ++c) {
        const double d = choices[rng() % 4];
        for (std::uint64_t r = 0; r < rows; ++r) {
            if (unit(rng) < d) {
                m.rowIndex.push_back(r * rowStride);
                m.values.push_back(drawValue(rng, kind));
            }
        }
        m.colStart.push_back(m.values.size());
    }
    return m;
}

// Every column stores every row, as data arrive after centring or ranking.
inline Csc denseCsc(std::uint64_t rows, std::uint64_t cols, std::uint64_t seed,
                    Values kind = Values::wild) {
    std::mt19937_64 rng(seed);
    Csc m;
    m.rows = rows;
    for (std::uint64_t c = 0; c < cols; ++c) {
        for (std::uint64_t r = 0; r < rows; ++r) {
            m.rowIndex.push_back(r);
            m.values.push_back(drawValue(rng, kind));
        }
        m.colStart.push_back(m.values.size());
    }
    return m;
}

// Columns scaled to unit length, as a caller prepares data for "cos"; then
// sums of products land near 1.0 and exercise the clamp.
inline Csc unitColumns(Csc m) {
    for (std::uint64_t c = 0; c < m.cols(); ++c) {
        double norm = 0.0;
        for (std::uint64_t p = m.colStart[c]; p < m.colStart[c + 1]; ++p) {
            norm += m.values[p] * m.values[p];
        }
        if (norm > 0.0) {
            for (std::uint64_t p = m.colStart[c]; p < m.colStart[c + 1]; ++p) {
                m.values[p] /= std::sqrt(norm);
            }
        }
    }
    return m;
}

// A random m-by-m matrix in column-major order; the lower triangle is filled
// with NaN, which must never be read.
inline std::vector<double> randomUpperFactor(std::uint64_t m, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> u(m * m, kNaN);
    for (std::uint64_t k = 0; k < m; ++k) {
        for (std::uint64_t r = 0; r <= k; ++r) {
            u[r + k * m] = unit(rng);
        }
    }
    return u;
}

// The record of `kind`'s body over m, its parameter data chosen by the
// body's rule: the weights or the upper factor.
inline rowmetric::PairInputs inputsFor(rowmetric::BodyKind kind, const Csc& m, double exponent,
                                       const std::vector<double>& weights,
                                       const std::vector<double>& upper) {
    const bool readsWeights =
        rowmetric::bodyEntry(kind).parameter == rowmetric::ParameterRule::weights;
    rowmetric::PairInputs in;
    in.n = m.cols();
    in.values = m.values.data();
    in.rowIndex = m.rowIndex.data();
    in.colStart = m.colStart.data();
    in.exponent = exponent;
    in.paramData = readsWeights ? weights.data() : upper.data();
    in.nvars = m.rows;
    return in;
}

// Equal bit patterns, or both NaN (NaN payloads and signs are not compared).
inline ::testing::AssertionResult sameBits(double expected, double actual) {
    if (std::isnan(expected) && std::isnan(actual)) {
        return ::testing::AssertionSuccess();
    }
    if (std::memcmp(&expected, &actual, sizeof(double)) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "expected " << expected << ", got " << actual << " (bits differ)";
}

}  // namespace rmtest
