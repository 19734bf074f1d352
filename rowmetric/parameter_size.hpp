// Size rules for the optional third argument: how many elements it holds and
// whether that is enough for the metric that reads it.
#pragma once

#include "vorn/array_api.hpp"
#include "metric_registry.hpp"

#include <cstdint>

namespace rowmetric {

// a * b, or the largest 64-bit value when the product would not fit.
constexpr std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) {
        return UINT64_MAX;
    }
    return a * b;
}

// Elements of the parameter readable as a dense column-major block through
// its real data: m*n for a dense array; for a sparse one m*n only when every
// element is stored, else 0 (its data hold just the stored entries).
std::uint64_t denseElementCount(const vornArray* param);

// Whether a present, non-empty third argument has the size its rule reads: at
// least nvars weights, at least nvars*nvars matrix elements, or exactly one
// exponent. A rule that reads nothing fits any size.
bool parameterSizeFits(ParameterRule rule, const vornArray* param, std::uint64_t nvars);

}  // namespace rowmetric
