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

// Returns the prepared copy of `matrix`. Lengths are taken after scaling by
// a power of two, so data of any magnitude (1e-200 or 1e200 alike) is
// prepared as at scale 1. A column whose length is zero after centring (all
// zeros, or constant for correlation and ranks) is left all zeros, so its
// inner product with anything is 0 and its distance to any column is 1. A
// column holding NaN, or an infinity (except for ranks, where it ranks
// last or first), becomes NaN in all M rows, so its distance to any column
// that stores anything is NaN. Cosine otherwise keeps the stored pattern;
// correlation and ranks store all M rows, since centring fills in the
// implicit zeros. Throws std::length_error when those M x N values do not fit
// in memory addressing.
CscMatrix prepareColumns(const CscMatrix& matrix, Preparation preparation);

}  // namespace huxrun
