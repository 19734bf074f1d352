// Column preparation for the inner-product distances: the module computes
// 1 - x.y as given, so cosine, correlation and rank correlation need their
// columns scaled, centred or ranked beforehand. This unit does that.
#pragma once

#include "matrix_market.hpp"

#include <optional>
#include <string_view>

namespace huxrun {

enum class Preparation {
    Cosine,       // scale each column to unit Euclidean length
    Correlation,  // subtract the column mean over all rows, then scale
    Spearman,     // replace by average ranks over all rows, then centre and scale
};

// The preparation the module's code needs: the module reads the first three
// characters, so "cos", "cosine" and "correlation" all count.
std::optional<Preparation> preparationForCode(std::string_view code);

// Returns the prepared copy of `matrix`. A column whose length is zero after
// centring (all zeros, or constant for correlation and ranks) is left all
// zeros, so its inner product with anything is 0 and its distance to any
// column is 1. A column holding NaN gives NaN throughout (ranks included).
// Cosine keeps the stored pattern; correlation and ranks store all M rows,
// since centring fills in the implicit zeros. Throws std::length_error when
// M x N does not fit in memory addressing.
CscMatrix prepareColumns(const CscMatrix& matrix, Preparation preparation);

}  // namespace huxrun
