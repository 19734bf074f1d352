// The Matrix Market reader's limits for fuzz inputs, shared by the fuzz
// target and the dump tool whose output the SciPy oracle checks.
#pragma once

#include "matrix_market.hpp"

#include <cstdint>

namespace fuzz {

// Column counts cost memory even when empty; a lower cap keeps each input
// cheap without changing which code paths the reader takes.
inline huxrun::MarketLimits marketLimits() {
    huxrun::MarketLimits limits;
    limits.maxColumns = std::uint64_t{1} << 16;
    return limits;
}

}  // namespace fuzz
