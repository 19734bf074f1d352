// The lane sweep's tile shape, and the matrices its 16-bit tile lists can
// hold: the path choice and the sweep itself read both from here.
#pragma once

#include "lane_vector.hpp"
#include "matrix_shape.hpp"

#include <cstdint>

namespace rowmetric {

// A tile pairs an i block of kLaneIColumns adjacent columns with a j block of
// kLaneJColumns; pair (i0 + a, j0 + b) folds in lane kLaneJColumns·a + b. A
// group of kLaneGroupTiles adjacent i blocks sweeps the j blocks to its
// right, each j block against all of the group's i blocks at once.
inline constexpr std::uint64_t kLaneIColumns = 4;
inline constexpr std::uint64_t kLaneJColumns = 2;
inline constexpr std::uint64_t kLaneGroupTiles = 8;
static_assert(kLaneIColumns * kLaneJColumns == detail::kVectorLanes);

// The arena slots a thread may need, with columns of at most `longest`
// entries: the zero vector, the group's i-block rows, the current j block's
// rows, and one mixed vector per row a tile's two blocks share.
constexpr std::uint64_t laneArenaSlots(std::uint64_t longest) {
    const std::uint64_t iRows = kLaneIColumns * longest;
    const std::uint64_t jRows = kLaneJColumns * longest;
    return 1 + kLaneGroupTiles * iRows + (kLaneGroupTiles + 1) * jRows;
}

// Tile lists hold 16-bit arena slots, and the per-row counts are 16-bit too.
inline constexpr std::uint64_t kLaneArenaLimit = std::uint64_t{1} << 16;

// Whether the lane sweep can run on the matrix at all: its arena slots fit
// 16 bits, and its table over the rows is as affordable as the row index.
constexpr bool laneSweepFits(const MatrixShape& shape) {
    return rowIndexAffordable(shape) && shape.longestColumn < kLaneArenaLimit &&
           laneArenaSlots(shape.longestColumn) <= kLaneArenaLimit;
}

}  // namespace rowmetric
