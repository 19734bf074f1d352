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
#include <cstring>
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

// Tile lists are written in runs of kSlotRun consecutive slots, one vector
// store each.
inline constexpr std::uint64_t kSlotRun = 16;
using SlotRun = std::uint16_t __attribute__((vector_size(kSlotRun * sizeof(std::uint16_t))));

// One thread's working memory, sized for the call's longest blocks.
struct LaneScratch {
    // Per slot, the terms a tile's list adds; for the slots of i-block and
    // j-block rows also the row's values and which lanes' columns store it,
    // from which a row both blocks store gets its mixed terms.
    std::vector<LaneSlot> arena;
    std::vector<LaneSlot> values;
    std::vector<MaskSlot> stored;
    // below[r·kLaneGroupTiles + t]: rows of tile t's i block below row r.
    std::vector<std::uint16_t> below;
    // Tile t's list of arena slots at lists[t·listStride ...], with room for
    // a run written past its end.
    std::uint64_t listStride;
    std::vector<std::uint16_t> lists;

    LaneScratch(std::uint64_t rows, std::uint64_t longestI, std::uint64_t longestJ)
        : arena(1 + kLaneGroupTiles * longestI + (kLaneGroupTiles + 1) * longestJ),
          values(arena.size()),
          stored(arena.size()),
          below((rows + 1) * kLaneGroupTiles),
          listStride(longestI + longestJ + kSlotRun),
          lists(listStride * kLaneGroupTiles) {}
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

// A row's per-column values or terms of an i block, each in its column's
// lanes, and which lanes' columns store the row.
inline LaneVector spreadI(const double* perColumn) {
    LaneVector v;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        v[l] = perColumn[l / kLaneJColumns];
    }
    return v;
}

inline LaneMask spreadI(std::uint8_t present) {
    LaneMask m;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        m[l] = (present >> (l / kLaneJColumns) & 1u) != 0 ? -1 : 0;
    }
    return m;
}

// The same for a j block.
inline LaneVector spreadJ(const double* perColumn) {
    LaneVector v;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        v[l] = perColumn[l % kLaneJColumns];
    }
    return v;
}

inline LaneMask spreadJ(std::uint8_t present) {
    LaneMask m;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        m[l] = (present >> (l % kLaneJColumns) & 1u) != 0 ? -1 : 0;
    }
    return m;
}

// Puts a row's terms, values and stored lanes at `slot`.
inline void putRow(LaneScratch& s, std::uint64_t slot, const LaneVector& terms,
                   const LaneVector& values, const LaneMask& stored) {
    s.arena[slot].v = terms;
    s.values[slot].v = values;
    s.stored[slot].m = stored;
}

// A row stored by both blocks of a tile (i-block row at slot iSlot, j-block
// row at jSlot): the two-column term in the lanes of pairs that both store
// it, the single-column term of whichever column does in the others, +0.0
// where neither does (the term vectors hold +0.0 in the lanes of columns
// without the row; adding +0.0 to a term, or -0.0 to +0.0, changes no sum
// or maximum an accumulator reaches).
template <class Policy>
[[gnu::always_inline]] inline LaneVector sharedRowTerms(const Policy& policy, std::uint64_t r,
                                                        const LaneScratch& s, std::uint64_t iSlot,
                                                        std::uint64_t jSlot) {
    const LaneVector& x = s.values[iSlot].v;
    const LaneVector& y = s.values[jSlot].v;
    LaneVector both;
    for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
        both[l] = policy.both(x[l], y[l], r);
    }
    const LaneMask inBoth = s.stored[iSlot].m & s.stored[jSlot].m;
    return inBoth ? both : s.arena[iSlot].v + s.arena[jSlot].v;
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
    std::uint16_t* below = s.below.data();
    s.arena[0].v = LaneVector{};
    std::uint64_t next = 1;
    for (std::uint64_t t = 0; t < kLaneGroupTiles; ++t) {
        std::uint64_t r = 0;
        std::uint64_t q = 0;
        g.slot[t] = next;
        g.rows[t] = t < g.tiles ? ib.count[g.firstBlock + t] : 0;
        const std::uint64_t first = t < g.tiles ? ib.start[g.firstBlock + t] : 0;
        for (; q < g.rows[t]; ++q) {
            const std::uint64_t at = first + q;
            putRow(s, next++, spreadI(&ib.term[at * kLaneIColumns]),
                   spreadI(&ib.value[at * kLaneIColumns]), spreadI(ib.present[at]));
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

// Writes the slots first, first + 1, ... for `count` entries from list[at]
// on, and up to kSlotRun - 1 more past them, which the caller overwrites or
// never reads.
inline void writeSlotRun(std::uint16_t* list, std::uint64_t at, std::uint64_t first,
                         std::uint64_t count) {
    SlotRun steps;
    for (std::uint64_t k = 0; k < kSlotRun; ++k) {
        steps[k] = static_cast<std::uint16_t>(k);
    }
    for (std::uint64_t done = 0;; done += kSlotRun) {
        const SlotRun run = static_cast<std::uint16_t>(first + done) + steps;
        std::memcpy(list + at + done, &run, sizeof run);
        if (done + kSlotRun >= count) {
            return;
        }
    }
}

// The lists of tiles 0 .. active-1 with one j block: tile t's i rows q
// (slots g.slot[t] + q) and the j block's rows k (slots jSlot + k) merged in
// ascending row order without comparing rows. Row k goes to position
// k + (i rows at or below it) in each tile, read for all tiles at once from
// `below`, and the i rows before it fill the positions before it as one run
// of consecutive slots. A row both blocks store takes two positions: the zero
// vector, then its mixed vector, written at slot jSlot + jRows onwards.
template <class Body, class Policy>
[[gnu::always_inline]] inline void listLaneTiles(const LaneSweepInput<Body, Policy>& in,
                                                 LaneScratch& s, const LaneGroup& g,
                                                 std::uint64_t active, std::uint64_t jBlock,
                                                 std::uint64_t jSlot) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    // Locals throughout: the runs are stored byte-wise, which could alias
    // any field read through a reference.
    LaneSlot* const arena = s.arena.data();
    std::uint16_t* const lists = s.lists.data();
    const std::uint64_t stride = s.listStride;
    const std::uint16_t* const below = s.below.data();
    const std::uint64_t jFirst = in.jBlocks.start[jBlock];
    const std::uint64_t jRows = in.jBlocks.count[jBlock];
    const std::uint64_t* const jRowOf = in.jBlocks.row.data() + jFirst;
    std::uint64_t mixed = jSlot + jRows;
    std::uint64_t iSlot[T];
    std::copy(g.slot, g.slot + T, iSlot);
    std::uint64_t placed[T] = {};  // i rows listed so far, per tile
    for (std::uint64_t k = 0; k < jRows; ++k) {
        const std::uint16_t* iBelow = below + jRowOf[k] * T;
        const std::uint16_t* iAtOrBelow = iBelow + T;
        for (std::uint64_t t = 0; t < active; ++t) {
            std::uint16_t* list = lists + t * stride;
            const std::uint64_t upTo = iAtOrBelow[t];
            writeSlotRun(list, placed[t] + k, iSlot[t] + placed[t], upTo - placed[t]);
            placed[t] = upTo;
            if (iBelow[t] == upTo) {
                list[k + upTo] = static_cast<std::uint16_t>(jSlot + k);
                continue;
            }
            arena[mixed].v =
                sharedRowTerms(in.policy, jRowOf[k], s, iSlot[t] + iBelow[t], jSlot + k);
            list[k + upTo - 1] = 0;
            list[k + upTo] = static_cast<std::uint16_t>(mixed++);
        }
    }
    for (std::uint64_t t = 0; t < active; ++t) {
        writeSlotRun(lists + t * stride, placed[t] + jRows, iSlot[t] + placed[t],
                     g.rows[t] - placed[t]);
    }
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
            if (j >= body.n || j <= i || i >= body.rowLimit) {
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
            const std::uint64_t at = jFirst + k;
            putRow(s, jSlot + k, spreadJ(&jb.term[at * kLaneJColumns]),
                   spreadJ(&jb.value[at * kLaneJColumns]), spreadJ(jb.present[at]));
        }
        // The tiles with a pair (i, j), i < j: i0 + kLaneIColumns·t < jLast.
        const std::uint64_t active =
            jLast > i0 ? std::min(g.tiles, (jLast - i0 - 1) / kLaneIColumns + 1) : 0;
        listLaneTiles(in, s, g, active, jBlock, jSlot);
        std::uint64_t length[T];
        std::uint64_t longest = 0;
        for (std::uint64_t t = 0; t < T; ++t) {
            length[t] = t < active ? g.rows[t] + jRows : 0;
            longest = std::max(longest, length[t]);
        }
        for (std::uint64_t t = 0; t < T; ++t) {
            std::uint16_t* list = lists + t * s.listStride;
            std::fill(list + length[t], list + longest, std::uint16_t{0});
        }
        LaneVector acc[T] = {};
        for (std::uint64_t e = 0; e < longest; ++e) {
            for (std::uint64_t t = 0; t < T; ++t) {
                Policy::fold(acc[t], arena[lists[t * s.listStride + e]].v);
            }
        }
        for (std::uint64_t t = 0; t < active; ++t) {
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

// The pairs of an order-dependent fold (sums of squares, of absolute values,
// of powers, and the maximum) of the body's rows, written to its output, by
// the variant for `isa`, which the processor must be able to run (by default the
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
    // i blocks only for the rows computed; j blocks for every column.
    const std::uint64_t iColumns =
        std::min(shape.n, (body.rowLimit + kLaneIColumns - 1) / kLaneIColumns * kLaneIColumns);
    const LaneBlocks iBlocks =
        buildLaneBlocks(body.values, body.rowIndex, body.colStart, iColumns, kLaneIColumns, policy);
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
