// The number of observation pairs N(N-1)/2 and the bound on it: the result
// must hold fewer than rowmetric_pair_limit elements, decided without the
// product wrapping.
#pragma once

#include "rowmetric/rowmetric.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace rowmetric {

// N(N-1)/2 when it lies below the bound, nothing otherwise. An N whose
// product N(N-1) does not fit in 64 bits is far above the bound. The bound
// (2^48 - 1) is far below 2^53, so comparing integers decides as comparing
// the count converted to double would.
constexpr std::optional<std::uint64_t> boundedPairCount(std::uint64_t n) {
    if (n < 2) {
        return std::uint64_t{0};
    }
    if (n - 1 > std::numeric_limits<std::uint64_t>::max() / n) {
        return std::nullopt;
    }
    const std::uint64_t pairs = n * (n - 1) / 2;
    if (pairs >= rowmetric_pair_limit) {
        return std::nullopt;
    }
    return pairs;
}

}  // namespace rowmetric
