// Exact all-pairs folds with one vector lane per pair: each tile of 4 columns
// i by 2 columns j folds every row of its columns' union with one vector add.
#pragma once

#include "lane_lists.hpp"
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

// One thread's working memory, sized for the call's longest blocks.
struct LaneScratch {
    // Per slot the terms a tile's list adds: the zero vector, the group's
    // i-block rows, the current j block's rows, then each tile's mixed rows.
    // For the i-block and j-block rows also the row's values and which
    // lanes' columns store it, from which a row both blocks store gets its
    // mixed terms.
    std::vector<LaneSlot> arena;
    std::vector<LaneSlot> values;
    std::vector<MaskSlot> stored;
    std::vector<std::uint16_t> ramp;  // ramp[x] = x, to copy runs of slots from
    std::vector<std::uint16_t> rank;  // the group's rank table
    // Tile t's list at lists[t·listStride ...], with room for a run written
    // past its end; the j rows both its blocks store at notes[t·noteStride ...].
    std::uint64_t listStride;
    std::vector<std::uint16_t> lists;
    std::uint64_t noteStride;
    std::vector<std::uint16_t> notes;

    LaneScratch(std::uint64_t rows, std::uint64_t longestI, std::uint64_t longestJ)
        : arena(1 + kLaneGroupTiles * longestI + (kLaneGroupTiles + 1) * longestJ),
          values(arena.size()),
          stored(arena.size()),
          ramp(arena.size() + kSlotRun),
          rank((rows + 1) * kLaneGroupTiles),
          listStride(longestI + longestJ + kSlotRun),
          lists(listStride * kLaneGroupTiles),
          noteStride(longestJ),
          notes(noteStride * kLaneGroupTiles) {
        for (std::uint64_t x = 0; x < ramp.size(); ++x) {
            ramp[x] = static_cast<std::uint16_t>(x);
        }
    }
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
// lanes (lane = kLaneJColumns·a + b), and the same for a j block.
static_assert(kLaneIColumns == 4 && kLaneJColumns == 2, "the spreads below");
using IBlockRow = double __attribute__((vector_size(kLaneIColumns * sizeof(double))));
using JBlockRow = double __attribute__((vector_size(kLaneJColumns * sizeof(double))));

inline LaneVector spreadI(const double* perColumn) {
    IBlockRow x;
    std::memcpy(&x, perColumn, sizeof x);
    return __builtin_shufflevector(x, x, 0, 0, 1, 1, 2, 2, 3, 3);
}

// Written to memory as kVectorLanes / kLaneJColumns copies of the row: a
// wide value built from a narrow one would go through the stack with AVX2,
// and its wide reload would wait for the narrow stores.
inline void putSpreadJ(LaneSlot& out, const double* perColumn) {
    for (std::uint64_t l = 0; l < kVectorLanes; l += kLaneJColumns) {
        std::memcpy(reinterpret_cast<double*>(&out) + l, perColumn, sizeof(JBlockRow));
    }
}

// The lanes whose i (j) column stores a row, for each pattern of stored
// columns of the block.
struct LaneMasks {
    MaskSlot i[1u << kLaneIColumns];
    MaskSlot j[1u << kLaneJColumns];
};

inline const LaneMasks& laneMasks() {
    static const LaneMasks masks = [] {
        LaneMasks m{};
        for (std::uint64_t present = 0; present < (1u << kLaneIColumns); ++present) {
            for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
                m.i[present].m[l] = (present >> (l / kLaneJColumns) & 1u) != 0 ? -1 : 0;
            }
        }
        for (std::uint64_t present = 0; present < (1u << kLaneJColumns); ++present) {
            for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
                m.j[present].m[l] = (present >> (l % kLaneJColumns) & 1u) != 0 ? -1 : 0;
            }
        }
        return m;
    }();
    return masks;
}

// Writes `inMask ? a : b` lane by lane as bits, through memory: with 8-double
// vectors wider than a register this stays a few whole-register operations.
inline void putSelected(LaneSlot& out, const LaneMask& inMask, const LaneVector& a,
                        const LaneVector& b) {
    LaneMask aBits;
    LaneMask bBits;
    std::memcpy(&aBits, &a, sizeof a);
    std::memcpy(&bBits, &b, sizeof b);
    const LaneMask bits = (aBits & inMask) | (bBits & ~inMask);
    std::memcpy(&out, &bits, sizeof bits);
}

// Whether the policy's two-column term takes vectors of 8 doubles, one pair
// per lane; otherwise the lane sweep computes it lane by lane.
template <class Policy, class = void>
struct BothTakesVectors : std::false_type {};

template <class Policy>
struct BothTakesVectors<Policy, std::void_t<decltype(std::declval<const Policy&>().both(
                                    std::declval<const LaneVector&>(),
                                    std::declval<const LaneVector&>(), std::uint64_t{}))>>
    : std::true_type {};

// The terms of the rows both blocks of tile t store, `count` of them as
// listTiles noted them (j row k, of row jRowOf[k], at slot jSlot + k; its
// place among the tile's i rows from the rank table), into out[0 ..]: the
// two-column term in the lanes of pairs that both store the row, the
// single-column term of whichever column does in the others, +0.0 where
// neither does (the term vectors hold +0.0 in the lanes of columns without
// the row; adding +0.0 to a term, or -0.0 to +0.0, changes no sum or
// maximum an accumulator reaches).
template <class Policy>
[[gnu::always_inline]] inline void putMixedRows(const Policy& policy, LaneScratch& s,
                                                const TileListing& listing, std::uint64_t t,
                                                const std::uint16_t* noted, std::uint64_t count,
                                                LaneSlot* out) {
    const LaneSlot* const arena = s.arena.data();
    const LaneSlot* const values = s.values.data();
    const MaskSlot* const stored = s.stored.data();
    const std::uint16_t* const rank = listing.rank + t;
    const std::uint64_t iSlot = listing.iSlot[t];
    for (std::uint64_t m = 0; m < count; ++m) {
        const std::uint64_t k = noted[m];
        const std::uint64_t r = listing.jRowOf[k];
        const std::uint64_t i = iSlot + rank[r * kLaneGroupTiles];
        const std::uint64_t j = listing.jSlot + k;
        LaneVector both;
        if constexpr (BothTakesVectors<Policy>::value) {
            both = policy.both(values[i].v, values[j].v, r);
        } else {
            for (std::uint64_t l = 0; l < kVectorLanes; ++l) {
                both[l] = policy.both(values[i].v[l], values[j].v[l], r);
            }
        }
        putSelected(out[m], stored[i].m & stored[j].m, both, arena[i].v + arena[j].v);
    }
}

// Where one group's i blocks sit: tile t's union rows at arena slots
// iSlot[t] ...; the j rows from slot jSlot on.
struct LaneGroup {
    std::uint64_t firstBlock;
    std::uint64_t tiles;  // i blocks in the group (fewer in the last)
    TileCounts iSlot;
    TileCounts iRows;
    std::uint64_t jSlot;
};

// Puts the group's i-block rows after the zero vector and fills the group's
// rank table.
template <class Body, class Policy>
LaneGroup loadLaneGroup(const LaneSweepInput<Body, Policy>& in, LaneScratch& s,
                        const LaneMasks& masks, std::uint64_t group) {
    const LaneBlocks& ib = in.iBlocks;
    LaneGroup g{};
    g.firstBlock = group * kLaneGroupTiles;
    g.tiles = std::min(kLaneGroupTiles, ib.blocks() - g.firstBlock);
    const std::uint64_t* rowOf[kLaneGroupTiles];
    s.arena[0].v = LaneVector{};
    std::uint64_t next = 1;
    for (std::uint64_t t = 0; t < kLaneGroupTiles; ++t) {
        const std::uint64_t rows = t < g.tiles ? ib.count[g.firstBlock + t] : 0;
        const std::uint64_t first = t < g.tiles ? ib.start[g.firstBlock + t] : 0;
        g.iSlot[t] = static_cast<std::uint16_t>(next);
        g.iRows[t] = static_cast<std::uint16_t>(rows);
        rowOf[t] = ib.row.data() + first;
        for (std::uint64_t at = first; at < first + rows; ++at, ++next) {
            s.arena[next].v = spreadI(&ib.term[at * kLaneIColumns]);
            s.values[next].v = spreadI(&ib.value[at * kLaneIColumns]);
            s.stored[next] = masks.i[ib.present[at]];
        }
    }
    g.jSlot = next;
    fillRankTable(s.rank.data(), in.rows, rowOf, g.iRows);
    return g;
}

// Puts a j block's rows (`rows` from union row `first` on) at terms[0 ..],
// values[0 ..] and stored[0 ..]. Plain pointers throughout: the stores could
// alias any field read through a reference.
[[gnu::always_inline]] inline void putJBlockRows(const LaneBlocks& jb, std::uint64_t first,
                                                 std::uint64_t rows, const LaneMasks& masks,
                                                 LaneSlot* terms, LaneSlot* values,
                                                 MaskSlot* stored) {
    const double* const term = jb.term.data() + first * kLaneJColumns;
    const double* const value = jb.value.data() + first * kLaneJColumns;
    const std::uint8_t* const present = jb.present.data() + first;
    for (std::uint64_t k = 0; k < rows; ++k) {
        putSpreadJ(terms[k], term + k * kLaneJColumns);
        putSpreadJ(values[k], value + k * kLaneJColumns);
        stored[k] = masks.j[present[k]];
    }
}

// Keeps an accumulator in memory between the folds of the add loop. Where
// the 8-double vector is wider than a register, GCC would carry it from one
// iteration to the next through the stack in 16-byte pieces; in memory each
// fold is a load, an add and a store per register-wide part.
inline void keepInMemory(LaneSlot& acc) { asm("" : "+m"(acc)); }

// Folds every tile's list, `length` entries, side by side: entry e of every
// tile, then entry e + 1, so kLaneGroupTiles independent adds hide each
// one's latency. With kOneRegister the accumulators stay in registers.
template <class Policy, bool kOneRegister>
[[gnu::always_inline]] inline void foldTileLists(const LaneSlot* arena, const std::uint16_t* lists,
                                                 std::uint64_t stride, std::uint64_t length,
                                                 LaneSlot (&acc)[kLaneGroupTiles]) {
    for (std::uint64_t e = 0; e < length; ++e) {
        for (std::uint64_t t = 0; t < kLaneGroupTiles; ++t) {
            if constexpr (!kOneRegister) {
                keepInMemory(acc[t]);
            }
            Policy::fold(acc[t].v, arena[lists[t * stride + e]].v);
            if constexpr (!kOneRegister) {
                keepInMemory(acc[t]);
            }
        }
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
// of the group's first column: the j block's rows into the arena, the
// tiles' lists, the mixed terms they name, the lists padded with the zero
// vector to the longest and folded side by side, the tiles with a pair
// stored.
template <bool kOneRegister, class Body, class Policy>
[[gnu::always_inline]] inline void sweepLaneGroup(const LaneSweepInput<Body, Policy>& in,
                                                  LaneScratch& s, std::uint64_t group) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    const LaneBlocks& jb = in.jBlocks;
    const std::uint64_t n = in.body.n;
    const LaneMasks& masks = laneMasks();
    const LaneGroup g = loadLaneGroup(in, s, masks, group);
    const std::uint64_t i0 = g.firstBlock * kLaneIColumns;
    LaneSlot* const arena = s.arena.data();
    LaneSlot* const values = s.values.data();
    MaskSlot* const stored = s.stored.data();
    std::uint16_t* const lists = s.lists.data();
    const std::uint64_t stride = s.listStride;
    TileListing listing{};
    listing.rank = s.rank.data();
    listing.ramp = s.ramp.data();
    listing.iSlot = g.iSlot;
    listing.iRows = g.iRows;
    listing.jSlot = static_cast<std::uint16_t>(g.jSlot);
    for (std::uint64_t t = 0; t < T; ++t) {
        listing.listStart[t] = static_cast<std::uint16_t>(t * stride);
        listing.noteStart[t] = static_cast<std::uint16_t>(t * s.noteStride);
    }

    for (std::uint64_t jBlock = (i0 + 1) / kLaneJColumns; jBlock < jb.blocks(); ++jBlock) {
        const std::uint64_t j0 = jBlock * kLaneJColumns;
        const std::uint64_t jLast = std::min(j0 + kLaneJColumns, n) - 1;
        const std::uint64_t jFirst = jb.start[jBlock];
        const std::uint64_t jRows = jb.count[jBlock];
        putJBlockRows(jb, jFirst, jRows, masks, arena + g.jSlot, values + g.jSlot,
                      stored + g.jSlot);
        listing.jRowOf = jb.row.data() + jFirst;
        listing.jRows = jRows;
        for (std::uint64_t t = 0; t < T; ++t) {
            listing.mixSlot[t] = static_cast<std::uint16_t>(g.jSlot + (t + 1) * jRows);
        }
        TileLists made = listTiles<true>(listing, lists, s.notes.data());
        if (made.longRuns) {
            made = listTiles<false>(listing, lists, s.notes.data());
        }

        std::uint64_t longest = 0;
        for (std::uint64_t t = 0; t < T; ++t) {
            putMixedRows(in.policy, s, listing, t, s.notes.data() + t * s.noteStride, made.mixed[t],
                         arena + listing.mixSlot[t]);
            longest = std::max<std::uint64_t>(longest, made.length[t]);
        }
        for (std::uint64_t t = 0; t < T; ++t) {
            std::fill(lists + t * stride + made.length[t], lists + t * stride + longest,
                      std::uint16_t{0});
        }
        LaneSlot acc[T] = {};
        foldTileLists<Policy, kOneRegister>(arena, lists, stride, longest, acc);
        // The tiles with a pair (i, j), i < j: i0 + kLaneIColumns·t < jLast.
        const std::uint64_t active =
            jLast > i0 ? std::min(g.tiles, (jLast - i0 - 1) / kLaneIColumns + 1) : 0;
        for (std::uint64_t t = 0; t < active; ++t) {
            storeLaneTile(in.body, in.policy, acc[t].v, i0 + t * kLaneIColumns, j0);
        }
    }
}

// The group sweep compiled for each instruction set from the one source
// above; the table below hands out the variant asked for.
template <class Body, class Policy>
[[gnu::target("avx512f")]] void sweepLaneGroupAvx512(const LaneSweepInput<Body, Policy>& in,
                                                     LaneScratch& s, std::uint64_t group) {
    sweepLaneGroup<true>(in, s, group);
}

template <class Body, class Policy>
[[gnu::target("avx2")]] void sweepLaneGroupAvx2(const LaneSweepInput<Body, Policy>& in,
                                                LaneScratch& s, std::uint64_t group) {
    sweepLaneGroup<false>(in, s, group);
}

template <class Body, class Policy>
void sweepLaneGroupBaseline(const LaneSweepInput<Body, Policy>& in, LaneScratch& s,
                            std::uint64_t group) {
    sweepLaneGroup<false>(in, s, group);
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
void runLaneSweep(const Body& body, const MatrixShape& shape, Isa isa = widestIsa(cpuFeatures())) {
    countPathRun(Path::laneSweep);
    const auto policy = body.call.policy();
    using Policy = std::remove_const_t<decltype(policy)>;
    static_assert(std::is_same_v<typename Policy::Acc, double>);
    // i blocks only for the rows computed; j blocks for every column.
    const std::uint64_t iColumns =
        std::min(shape.n, (body.rowLimit + kLaneIColumns - 1) / kLaneIColumns * kLaneIColumns);
    const LaneBlocks iBlocks =
        buildLaneBlocks(body.values, body.rowIndex, body.colStart, iColumns, kLaneIColumns, policy);
    const LaneBlocks jBlocks =
        buildLaneBlocks(body.values, body.rowIndex, body.colStart, shape.n, kLaneJColumns, policy);
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
