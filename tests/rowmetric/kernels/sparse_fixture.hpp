// Test helpers for the kernels: compressed-column matrices built from column
// lists or at random, their dense form, and a bit-exact comparison of doubles.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace kerneltest {

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

// Random columns of varying density (some empty). With `wild`, entries may be
// NaN, +-inf, explicitly stored +-0 or small repeated integers (so that equal
// values meet at the same row).
inline Csc randomCsc(std::uint64_t rows, std::uint64_t cols, std::uint64_t seed, bool wild) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double densities[] = {0.0, 0.1, 0.3, 0.6, 0.9};
    std::vector<Column> columns(cols);
    for (Column& column : columns) {
        const double density = densities[rng() % 5];
        for (std::uint64_t r = 0; r < rows; ++r) {
            if (unit(rng) >= density) {
                continue;
            }
            const double u = unit(rng);
            double v = unit(rng) * 6.0 - 3.0;
            if (u < 0.25) {
                v = static_cast<double>(static_cast<int>(rng() % 5) - 2);  // includes 0.0
            }
            if (wild && u > 0.90) {
                const double specials[] = {kNaN, kInf, -kInf, 0.0, -0.0};
                v = specials[rng() % 5];
            }
            column.emplace_back(r, v);
        }
    }
    return fromColumns(rows, columns);
}

// Dense copy with a stored-mask, so references can walk all rows.
struct Dense {
    std::uint64_t rows;
    std::vector<double> x;  // row-major by column: x[c * rows + r]
    std::vector<char> stored;
    double at(std::uint64_t r, std::uint64_t c) const { return x[c * rows + r]; }
    bool has(std::uint64_t r, std::uint64_t c) const { return stored[c * rows + r] != 0; }
};

inline Dense densify(const Csc& m) {
    Dense d{m.rows, std::vector<double>(m.rows * m.cols(), 0.0),
            std::vector<char>(m.rows * m.cols(), 0)};
    for (std::uint64_t c = 0; c < m.cols(); ++c) {
        for (std::uint64_t p = m.colStart[c]; p < m.colStart[c + 1]; ++p) {
            d.x[c * m.rows + m.rowIndex[p]] = m.values[p];
            d.stored[c * m.rows + m.rowIndex[p]] = 1;
        }
    }
    return d;
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

}  // namespace kerneltest
