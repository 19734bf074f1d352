// The vector of eight doubles the sweeps fold pairs in, one pair per lane,
// and its lane mask: one GCC vector type for every instruction set.
#pragma once

#include <cstdint>

namespace rowmetric::detail {

// Eight lanes: one 512-bit register with AVX-512, two 256-bit ones with AVX2,
// four 128-bit ones with SSE2; the source is the same for all three.
inline constexpr std::uint64_t kVectorLanes = 8;

using LaneVector = double __attribute__((vector_size(kVectorLanes * sizeof(double))));
using LaneMask = std::int64_t __attribute__((vector_size(kVectorLanes * sizeof(std::int64_t))));

// A LaneVector kept in memory that code for any of the three sets may load.
// The type's own alignment is the baseline target's (16 bytes), while code
// compiled for AVX2 or AVX-512 loads it with 32- or 64-byte aligned moves;
// an alignment attribute on the type itself would be dropped in containers.
struct alignas(kVectorLanes * sizeof(double)) LaneSlot {
    LaneVector v;
};

// A LaneMask kept in memory, for the same reason.
struct alignas(kVectorLanes * sizeof(std::int64_t)) MaskSlot {
    LaneMask m;
};

}  // namespace rowmetric::detail
