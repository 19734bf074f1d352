// Exact all-pairs folds with one vector lane per pair: each tile of 4 columns
// i by 2 columns j folds every row of its columns' union with one vector add.
#pragma once

#include "lane_tiles.hpp"
#include "lane_vector.hpp"
#include "pair_loop.hpp"
#include "sweep_isa.hpp"
#include "sweep_lane_blocks.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace rowmetric {

// How every lane stays exact: a tile's list visits the union rows of its six
// columns in ascending order, and each row adds one vector to the tile's
// accumulator. A row of the i block alone adds that block's term vector, a
// row of the j block alone the j block's, a row of both their mixed vector;
// a lane whose pair lacks the row receives +0.0. An accumulator that starts
// at +0.0 never becomes -0.0 (an exact zero sum is +0.0 when rounding to
// nearest), x + (+0.0) is x for every other x, NaN included, and
// max(x, +0.0) is x for x >= +0.0 and for NaN. So every lane makes its
// pair's merge-walk operations, in the merge walk's order.

namespace detail {

// One thread's working memory, sized for the call's longest blocks.
struct LaneScratch {
    std::vector<LaneSlot> arena;
    // below[r·kLaneGroupTiles + t]: rows of tile t's i block below row r.
    std::vector<std::uint16_t> below;
    // before[q]: rows of the j block with exactly q rows of the i block at
    // or below them.
    std::vector<std::uint16_t> before;
    // lists[e·kLaneGroupTiles + t]: the arena slot of entry e of tile t.
    std::vector<std::uint16_t> lists;

    LaneScratch(std::uint64_t rows, std::uint64_t longestI, std::uint64_t longestJ)
        : arena(1 + kLaneGroupTiles * longestI + (kLaneGroupTiles + 1) * longestJ),
          below((rows + 1) * kLaneGroupTiles),
          before(longestI + 1),
          lists((longestI + longestJ) * kLaneGroupTiles) {}
};

// What every group reads, shared between the threads.
template <class Body, class Policy>
struct LaneSweepInput {
    const Body& body;
    const Policy& policy;
    const LaneBlocks& iBlocks;
    const LaneBlocks& jBlocks;
    std::uint64_t rows;
};

// A row's per-column terms of an i block, each in its column's lanes.
inline LaneVector spreadI(const double* terms) {
    LaneVector v;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        v[l] = terms[l / kLaneJColumns];
    }
    return v;
}

// A row's per-column terms of a j block, each in its column's lanes.
inline LaneVector spreadJ(const double* terms) {
    LaneVector v;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        v[l] = terms[l % kLaneJColumns];
    }
    return v;
}

// A row stored by both blocks of a tile: the two-column term in the lanes of
// pairs that both store it, the single-column term of whichever column does
// in the others (+0.0 where neither does: iTerms and jTerms hold +0.0 there).
template <class Policy>
[[gnu::always_inline]] inline LaneVector sharedRowTerms(const Policy& policy, std::uint64_t r,
                                                        const double* x, unsigned xIn,
                                                        const LaneVector& iTerms, const double* y,
                                                        unsigned yIn, const LaneVector& jTerms) {
    LaneVector both;
    LaneMask inBoth;
    LaneMask inI;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        const std::uint64_t a = l / kLaneJColumns;
        const std::uint64_t b = l % kLaneJColumns;
        both[l] = policy.both(x[a], y[b], r);
        const bool hasI = (xIn >> a & 1u) != 0;
        const bool hasJ = (yIn >> b & 1u) != 0;
        inBoth[l] = hasI && hasJ ? -1 : 0;
        inI[l] = hasI ? -1 : 0;
    }
    return inBoth ? both : (inI ? iTerms : jTerms);
}

// Slots and sizes of one group's i blocks in the arena.
struct LaneGroup {
    std::uint64_t firstBlock;
    std::uint64_t tiles;  // i blocks in the group (fewer in the last)
    std::uint64_t slot[kLaneGroupTiles];
    std::uint64_t rows[kLaneGroupTiles];
};

// Puts the group's i-block term vectors after the zero vector and counts,
// for every row r, each block's rows below r. Returns the next free slot.
template <class Body, class Policy>
std::uint64_t loadLaneGroup(const LaneSweepInput<Body, Policy>& in, LaneScratch& s,
                            LaneGroup& g) {
    const LaneBlocks& ib = in.iBlocks;
    LaneSlot* arena = s.arena.data();
    std::uint16_t* below = s.below.data();
    arena[0].v = LaneVector{};
    std::uint64_t next = 1;
    for (std::uint64_t t = 0; t < kLaneGroupTiles; ++t) {
        std::uint64_t r = 0;
        std::uint64_t q = 0;
        g.slot[t] = next;
        g.rows[t] = t < g.tiles ? ib.count[g.firstBlock + t] : 0;
        const std::uint64_t first = t < g.tiles ? ib.start[g.firstBlock + t] : 0;
        for (; q < g.rows[t]; ++q) {
            arena[next++].v = spreadI(&ib.term[(first + q) * kLaneIColumns]);
            for (const std::uint64_t rq = ib.row[first + q]; r <= rq; ++r) {
                below[r * kLaneGroupTiles + t] = static_cast<std::uint16_t>(q);
            }
        }
        for (; r <= in.rows; ++r) {
            below[r * kLaneGroupTiles + t] = static_cast<std::uint16_t>(q);
        }
    }
    return next;
}

// Tile t's list: its i block's rows q (slots g.slot[t] + q) and the j block's
// rows k (slots jSlot + k) merged in ascending row order without comparing
// rows. Row k goes to position k + (i rows at or below it), read from
// `below`; row q to q + (j rows below it), summed from `before`. A row both
// blocks store takes two positions: the zero vector, then its mixed vector,
// written at slot `mixed` onwards. Returns the next free slot.
template <class Body, class Policy>
std::uint64_t listLaneTile(const LaneSweepInput<Body, Policy>& in, LaneScratch& s,
                           const LaneGroup& g, std::uint64_t t, std::uint64_t jBlock,
                           std::uint64_t jSlot, std::uint64_t mixed) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    const LaneBlocks& ib = in.iBlocks;
    const LaneBlocks& jb = in.jBlocks;
    const std::uint16_t* below = s.below.data();
    std::uint16_t* before = s.before.data();
    std::uint16_t* list = s.lists.data() + t;
    LaneSlot* arena = s.arena.data();
    const std::uint64_t iRows = g.rows[t];
    const std::uint64_t jFirst = jb.start[jBlock];
    const std::uint64_t jRows = jb.count[jBlock];

    std::fill(before, before + iRows + 1, std::uint16_t{0});
    for (std::uint64_t k = 0; k < jRows; ++k) {
        ++before[below[(jb.row[jFirst + k] + 1) * T + t]];
    }
    std::uint64_t jBelow = 0;
    for (std::uint64_t q = 0; q < iRows; ++q) {
        jBelow += before[q];
        list[(q + jBelow) * T] = static_cast<std::uint16_t>(g.slot[t] + q);
    }
    const std::uint64_t iFirst = ib.start[g.firstBlock + t];
    for (std::uint64_t k = 0; k < jRows; ++k) {
        const std::uint64_t r = jb.row[jFirst + k];
        const std::uint64_t iBelow = below[r * T + t];
        const std::uint64_t iAtOrBelow = below[(r + 1) * T + t];
        const std::uint64_t at = k + iAtOrBelow;
        if (iBelow == iAtOrBelow) {
            list[at * T] = static_cast<std::uint16_t>(jSlot + k);
            continue;
        }
        const std::uint64_t iq = iFirst + iBelow;
        const std::uint64_t jk = jFirst + k;
        arena[mixed].v = sharedRowTerms(in.policy, r, &ib.value[iq * kLaneIColumns],
                                        ib.present[iq], arena[g.slot[t] + iBelow].v,
                                        &jb.value[jk * kLaneJColumns], jb.present[jk],
                                        arena[jSlot + k].v);
        list[(at - 1) * T] = 0;
        list[at * T] = static_cast<std::uint16_t>(mixed++);
    }
    return mixed;
}

// Writes the tile's finished pairs (i, j), i < j, to the condensed output;
// a NaN distance is recomputed by the body's kernel.
template <class Body, class Policy>
void storeLaneTile(const Body& body, const Policy& policy, const LaneVector& acc, std::uint64_t i0,
                   std::uint64_t j0) {
    for (std::uint64_t a = 0; a < kLaneIColumns; ++a) {
        const std::uint64_t i = i0 + a;
        for (std::uint64_t b = 0; b < kLaneJColumns; ++b) {
            const std::uint64_t j = j0 + b;
            if (j >= body.n || j <= i) {
                continue;
            }
            const double d = policy.finish(acc[a * kLaneJColumns + b]);
            body.out[condensedPosition(i, j, body.n)] = d == d ? d : body.distance(i, j);
        }
    }
}

// One group of i blocks against every j block holding a column to the right
// of the group's first column. The group's tiles with one j block are folded
// side by side, their lists padded with the zero vector to the longest, so
// kLaneGroupTiles independent adds hide each one's latency.
template <class Body, class Policy>
[[gnu::always_inline]] inline void sweepLaneGroup(const LaneSweepInput<Body, Policy>& in,
                                                  LaneScratch& s, std::uint64_t group) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    const LaneBlocks& jb = in.jBlocks;
    const std::uint64_t n = in.body.n;
    LaneGroup g{};
    g.firstBlock = group * T;
    g.tiles = std::min(T, in.iBlocks.blocks() - g.firstBlock);
    const std::uint64_t jSlot = loadLaneGroup(in, s, g);
    const std::uint64_t i0 = g.firstBlock * kLaneIColumns;
    const LaneSlot* arena = s.arena.data();
    std::uint16_t* lists = s.lists.data();

    for (std::uint64_t jBlock = (i0 + 1) / kLaneJColumns; jBlock < jb.blocks(); ++jBlock) {
        const std::uint64_t j0 = jBlock * kLaneJColumns;
        const std::uint64_t jLast = std::min(j0 + kLaneJColumns, n) - 1;
        const std::uint64_t jFirst = jb.start[jBlock];
        const std::uint64_t jRows = jb.count[jBlock];
        for (std::uint64_t k = 0; k < jRows; ++k) {
            s.arena[jSlot + k].v = spreadJ(&jb.term[(jFirst + k) * kLaneJColumns]);
        }
        std::uint64_t mixed = jSlot + jRows;
        std::uint64_t length[T];
        std::uint64_t longest = 0;
        for (std::uint64_t t = 0; t < T; ++t) {
            const bool hasPairs = t < g.tiles && jLast > i0 + t * kLaneIColumns;
            length[t] = hasPairs ? g.rows[t] + jRows : 0;
            if (hasPairs) {
                mixed = listLaneTile(in, s, g, t, jBlock, jSlot, mixed);
            }
            longest = std::max(longest, length[t]);
        }
        for (std::uint64_t t = 0; t < T; ++t) {
            for (std::uint64_t e = length[t]; e < longest; ++e) {
                lists[e * T + t] = 0;
            }
        }
        LaneVector acc[T] = {};
        for (std::uint64_t e = 0; e < longest; ++e) {
            for (std::uint64_t t = 0; t < T; ++t) {
                Policy::fold(acc[t], arena[lists[e * T + t]].v);
            }
        }
        for (std::uint64_t t = 0; t < g.tiles; ++t) {
            storeLaneTile(in.body, in.policy, acc[t], i0 + t * kLaneIColumns, j0);
        }
    }
}

// The group sweep compiled for each instruction set from the one source
// above; the table below hands out the variant asked for.
template <class Body, class Policy>
[[gnu::target("avx512f")]] void sweepLaneGroupAvx512(const LaneSweepInput<Body, Policy>& in,
                                                     LaneScratch& s, std::uint64_t group) {
    sweepLaneGroup(in, s, group);
}

template <class Body, class Policy>
[[gnu::target("avx2")]] void sweepLaneGroupAvx2(const LaneSweepInput<Body, Policy>& in,
                                                LaneScratch& s, std::uint64_t group) {
    sweepLaneGroup(in, s, group);
}

template <class Body, class Policy>
void sweepLaneGroupBaseline(const LaneSweepInput<Body, Policy>& in, LaneScratch& s,
                            std::uint64_t group) {
    sweepLaneGroup(in, s, group);
}

template <class Body, class Policy>
using LaneGroupSweep = void (*)(const LaneSweepInput<Body, Policy>&, LaneScratch&, std::uint64_t);

template <class Body, class Policy>
LaneGroupSweep<Body, Policy> laneGroupSweep(Isa isa) {
    switch (isa) {
        case Isa::avx512f:
            return &sweepLaneGroupAvx512<Body, Policy>;
        case Isa::avx2:
            return &sweepLaneGroupAvx2<Body, Policy>;
        case Isa::baseline:
            break;
    }
    return &sweepLaneGroupBaseline<Body, Policy>;
}

}  // namespace detail

// All pairs of an order-dependent fold (sums of squares, of absolute values,
// of powers, and the maximum) written to the body's condensed output, by the
// variant for `isa`, which the processor must be able to run (by default the
// widest it can). Groups of kLaneGroupTiles i blocks are spread over threads;
// each pair is computed by one tile in one fixed order, so the result does
// not depend on the thread count. The matrix must satisfy laneSweepFits.
template <class Body>
void runLaneSweep(const Body& body, const MatrixShape& shape,
                  Isa isa = widestIsa(cpuFeatures())) {
    countPathRun(Path::laneSweep);
    const auto policy = body.call.policy();
    using Policy = std::remove_const_t<decltype(policy)>;
    static_assert(std::is_same_v<typename Policy::Acc, double>);
    const LaneBlocks iBlocks = buildLaneBlocks(body.values, body.rowIndex, body.colStart, shape.n,
                                               kLaneIColumns, policy);
    const LaneBlocks jBlocks = buildLaneBlocks(body.values, body.rowIndex, body.colStart, shape.n,
                                               kLaneJColumns, policy);
    const detail::LaneSweepInput<Body, Policy> in{body, policy, iBlocks, jBlocks, shape.rows};
    const auto sweepGroup = detail::laneGroupSweep<Body, Policy>(isa);
    const std::uint64_t longestI = iBlocks.longest();
    const std::uint64_t longestJ = jBlocks.longest();
    tbb::enumerable_thread_specific<detail::LaneScratch> scratch(
        [&] { return detail::LaneScratch(shape.rows, longestI, longestJ); });
    const std::uint64_t groups = (iBlocks.blocks() + kLaneGroupTiles - 1) / kLaneGroupTiles;
    parallelForEach(groups, [&](std::uint64_t group) { sweepGroup(in, scratch.local(), group); });
}

}  // namespace rowmetric
