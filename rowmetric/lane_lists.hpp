// The lane sweep's tile lists: each tile's union rows in ascending order as
// arena slots, placed by counting, for all tiles of a group at once.
#pragma once

#include "lane_tiles.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace rowmetric::detail {

// One 16-bit count or slot per tile of a group: 16 bytes, a single register
// with every instruction set, so the per-row bookkeeping of all tiles is a
// handful of vector operations.
using TileCounts =
    std::uint16_t __attribute__((vector_size(kLaneGroupTiles * sizeof(std::uint16_t))));
static_assert(sizeof(TileCounts) == 16, "eight tiles per group");

inline TileCounts loadCounts(const std::uint16_t* at) {
    TileCounts v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

inline void storeCounts(std::uint16_t* at, const TileCounts& v) { std::memcpy(at, &v, sizeof v); }

// Whether any tile's count is above `limit`.
inline bool anyAbove(const TileCounts& v, std::uint16_t limit) {
    const auto above = v > limit;  // all bits set in the lanes above
    std::uint64_t halves[2];
    std::memcpy(halves, &above, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

// Runs of consecutive slots are copied kSlotRun at a time from a ramp
// (ramp[x] = x), one 64-byte move with AVX-512; a list has room for
// kSlotRun - 1 entries written past its end.
inline constexpr std::uint64_t kSlotRun = 32;

// List positions are 16-bit as well: the lists of a group's tiles, each with
// room for a run past its end, fit wherever laneSweepFits admits the arena.
inline constexpr std::uint64_t kLongestFittingColumn =
    (kLaneArenaLimit - laneArenaSlots(0)) / (laneArenaSlots(1) - laneArenaSlots(0));
static_assert(kLaneGroupTiles *
                  ((kLaneIColumns + kLaneJColumns) * kLongestFittingColumn + kSlotRun) <=
              kLaneArenaLimit);

// Copies ramp[0 ...] to list[0 ...]: `count` slots and up to kSlotRun - 1
// past them, which the caller overwrites or never reads.
inline void copySlots(std::uint16_t* list, const std::uint16_t* ramp, std::uint64_t count) {
    std::uint64_t done = 0;
    do {
        std::memcpy(list + done, ramp + done, kSlotRun * sizeof(std::uint16_t));
        done += kSlotRun;
    } while (done < count);
}

// The rank table of a group: rank[r·kLaneGroupTiles + t] is the number of
// tile t's i rows below row r, for r = 0 .. rows. The tiles' rows are marked
// one row further down, then summed down the rows, all tiles at once.
inline void fillRankTable(std::uint16_t* rank, std::uint64_t rows,
                          const std::uint64_t* const (&rowOf)[kLaneGroupTiles],
                          const TileCounts& count) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    std::fill(rank, rank + (rows + 1) * T, std::uint16_t{0});
    for (std::uint64_t t = 0; t < T; ++t) {
        for (std::uint64_t q = 0; q < count[t]; ++q) {
            rank[(rowOf[t][q] + 1) * T + t] = 1;
        }
    }
    TileCounts below = {};
    for (std::uint64_t r = 1; r <= rows; ++r) {
        below += loadCounts(rank + r * T);
        storeCounts(rank + r * T, below);
    }
}

// What the lists of a group's tiles with one j block are made from.
struct TileListing {
    const std::uint16_t* rank;    // the group's rank table
    const std::uint16_t* ramp;    // ramp[x] = x
    const std::uint64_t* jRowOf;  // the j block's rows, ascending
    std::uint64_t jRows;
    TileCounts iSlot;     // tile t's i rows are at slots iSlot[t] ...
    TileCounts iRows;     // ... iSlot[t] + iRows[t] - 1
    std::uint16_t jSlot;  // j row k at slot jSlot + k
    TileCounts mixSlot;   // tile t's rows both blocks store, at mixSlot[t] ...
    // Where tile t's list starts in the lists (t·list stride), and where the
    // j rows k that both its blocks store are noted (t·longest j block).
    TileCounts listStart;
    TileCounts noteStart;
};

// Each tile's list length and rows both of its blocks store; and whether a
// run of kSlotRun i rows or more fell between two j rows (see listTiles).
struct TileLists {
    TileCounts length;
    TileCounts mixed;
    bool longRuns;
};

// Merges each tile's i rows with the j rows without comparing rows: j row k
// (row r) goes to position k + (i rows below r) - (earlier j rows the i
// block also stores), read for all tiles from one line of the rank table;
// the i rows before it fill the positions before it as one run of
// consecutive slots. A row both blocks store takes the i row's place with
// the tile's next mixed slot (one entry, one add), and k is noted in
// `notes`. Positions are kept with each tile's start added, so a tile's
// writes each take one lane of a vector.
//
// Runs are copied kSlotRun slots at a time, and with kOneCopy only once,
// which leaves a longer run unfinished: the result says whether one was
// that long, and then the lists must be made again without kOneCopy. Such
// runs are rare (a few in ten thousand groups of tiles with one j block on
// the measured shapes), while checking for them at every j row would cost
// the run copies a third more.
template <bool kOneCopy>
inline TileLists listTiles(const TileListing& in, std::uint16_t* lists, std::uint16_t* notes) {
    constexpr std::uint64_t T = kLaneGroupTiles;
    TileCounts placed = {};  // i rows listed so far
    TileCounts mixedSoFar = {};
    TileCounts next = in.listStart;  // the next position, less the i rows placed
    TileCounts tooLong = {};         // nonzero where a run reached kSlotRun
    for (std::uint64_t k = 0; k < in.jRows; ++k) {
        const std::uint16_t* rank = in.rank + in.jRowOf[k] * T;
        const TileCounts below = loadCounts(rank);
        const TileCounts both = loadCounts(rank + T) - below;  // 1 where the i block stores it
        const TileCounts runAt = next + placed;
        const TileCounts runFrom = in.iSlot + placed;
        const TileCounts runLength = below - placed;
        const TileCounts jAt = next + below;
        const TileCounts mixed = -both;  // all bits set where both blocks store it
        const TileCounts slot = (mixed & (in.mixSlot + mixedSoFar)) |
                                (~mixed & static_cast<std::uint16_t>(in.jSlot + k));
        const TileCounts noteAt = in.noteStart + mixedSoFar;
        for (std::uint64_t t = 0; t < T; ++t) {
            if constexpr (kOneCopy) {
                std::memcpy(lists + runAt[t], in.ramp + runFrom[t],
                            kSlotRun * sizeof(std::uint16_t));
            } else {
                copySlots(lists + runAt[t], in.ramp + runFrom[t], runLength[t]);
            }
        }
        for (std::uint64_t t = 0; t < T; ++t) {
            lists[jAt[t]] = slot[t];
            notes[noteAt[t]] = static_cast<std::uint16_t>(k);
        }
        tooLong |= runLength / kSlotRun;
        mixedSoFar += both;
        next += 1 - both;
        placed = below + both;
    }
    for (std::uint64_t t = 0; t < T; ++t) {
        copySlots(lists + next[t] + placed[t], in.ramp + in.iSlot[t] + placed[t],
                  in.iRows[t] - placed[t]);
    }
    return {next - in.listStart + in.iRows, mixedSoFar, kOneCopy && anyAbove(tooLong, 0)};
}

}  // namespace rowmetric::detail
