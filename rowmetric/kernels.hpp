// The nine distance kernels: each one metric's distance between columns i and
// j of a compressed-column matrix, computed by one merge walk over both columns.
#pragma once

#include "mahalanobis.hpp"
#include "merge_walk.hpp"
#include "metric_policies.hpp"

#include <cstdint>

namespace rowmetric {

inline double eucdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      bool squared) {
    return walkDistance(SquaredDifferences{{}, squared}, values, rowIndex, colStart, i, j);
}

inline double seudist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      const double* weights) {
    return walkDistance(WeightedSquares{{}, weights}, values, rowIndex, colStart, i, j);
}

inline double citdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    return walkDistance(AbsoluteDifferences{}, values, rowIndex, colStart, i, j);
}

inline double mindist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      double exponent) {
    return walkDistance(PowerDifferences{{}, exponent}, values, rowIndex, colStart, i, j);
}

inline double chedist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    return walkDistance(LargestDifference{}, values, rowIndex, colStart, i, j);
}

// Rows stored in one column only add nothing, so the walk stops at the first
// exhausted column.
inline double dotdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    return walkDistance(InnerProduct{}, values, rowIndex, colStart, i, j);
}

inline double hamdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      std::uint64_t nvars) {
    return walkDistance(HammingCount{{}, nvars}, values, rowIndex, colStart, i, j);
}

inline double jacdist(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j) {
    return walkDistance(JaccardCount{}, values, rowIndex, colStart, i, j);
}

}  // namespace rowmetric
