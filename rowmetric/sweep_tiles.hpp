// Exact all-pairs folds by row sweeps over tiles of pairs: each pair still
// receives its terms in ascending row order, without a branchy merge per pair.
#pragma once

#include "lane_vector.hpp"
#include "matrix_shape.hpp"
#include "pair_loop.hpp"
#include "sweep_chunk_lists.hpp"
#include "sweep_isa.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace rowmetric {

// A tile pairs kLanes adjacent columns i (a "block") with kTileWidth adjacent
// columns j (a "chunk"). Its accumulators live in one small array, lane-major
// per column j: acc[jl·kLanes + b] belongs to the pair (block column b, chunk
// column jl), so a chunk entry updates one cache line of kLanes pairs.
constexpr std::uint64_t kLanes = 8;  // one LaneVector
constexpr std::uint64_t kTileWidth = 256;
static_assert(kTileWidth % kLanes == 0, "blocks are split from chunks");
// A block row stored by at least this many block columns is folded as one
// vector per chunk column (see foldBlockRow).
constexpr std::uint64_t kVectorRowColumns = 2;

namespace detail {

// The kLanes accumulators of one chunk column are one LaneVector: a chunk
// entry adds its term to all of them with one instruction where the target
// has it.
static_assert(kLanes == kVectorLanes);

// Folds eight lane terms into the accumulators of one chunk column.
template <class Policy>
inline void foldLine(double* line, const LaneVector& terms) {
    LaneVector sums;
    std::memcpy(&sums, line, sizeof sums);
    Policy::fold(sums, terms);
    std::memcpy(line, &sums, sizeof sums);
}

// A row stored by chunk column `lane` and by no block column in `skipLanes`.
// Lanes to skip receive +0.0 instead of the term, which leaves their bits
// unchanged: an accumulator that starts at +0.0 never becomes -0.0 (an exact
// zero sum is +0.0 when rounding to nearest), x + (+0.0) is x for every other
// x, NaN included, and max(x, +0.0) is x for x >= +0.0 and for NaN.
template <class Policy>
inline void foldChunkEntry(double* acc, const ChunkEntry& e, unsigned skipLanes) {
    const double t = e.term;
    LaneVector term = {t, t, t, t, t, t, t, t};
    if (skipLanes != 0) {
        for (std::uint64_t b = 0; b < kLanes; ++b) {
            if ((skipLanes >> b & 1u) != 0) {
                term[b] = 0.0;
            }
        }
    }
    foldLine<Policy>(acc + e.lane * kLanes, term);
}

// Adds t to every kLanes-th element in [from, to): the columns of one lane.
template <class Policy>
inline void foldLaneRun(double* lane, std::uint64_t from, std::uint64_t to, double t) {
    std::uint64_t jl = from;
    for (; jl + 4 <= to; jl += 4) {
        Policy::fold(lane[jl * kLanes], t);
        Policy::fold(lane[(jl + 1) * kLanes], t);
        Policy::fold(lane[(jl + 2) * kLanes], t);
        Policy::fold(lane[(jl + 3) * kLanes], t);
    }
    for (; jl < to; ++jl) {
        Policy::fold(lane[jl * kLanes], t);
    }
}

// A row stored by block column e.lane: every chunk column receives the
// single-column term, except those in [shared, sharedEnd) that store the
// same row and receive the two-column term instead.
template <class Policy>
inline void foldBlockEntry(double* acc, std::uint64_t width, const ChunkEntry& e,
                           const ChunkEntry* shared, const ChunkEntry* sharedEnd,
                           const Policy& policy) {
    double* lane = acc + e.lane;
    std::uint64_t jl = 0;
    for (; shared != sharedEnd; ++shared) {
        foldLaneRun<Policy>(lane, jl, shared->lane, e.term);
        jl = shared->lane;
        Policy::fold(lane[jl * kLanes], policy.both(e.value, shared->value, e.row));
        ++jl;
    }
    foldLaneRun<Policy>(lane, jl, width, e.term);
}

// A row stored by several block columns at once, as rows common to most
// columns are in skewed data: each chunk column receives one vector of the
// block's single-column terms (+0.0 in the lanes of block columns without the
// row, which changes nothing, as above), instead of one strided pass per
// block column. A chunk column that stores the row as well receives, in one
// vector, the two-column term in the block's lanes and its own single-column
// term in the others. Every pair still gets exactly one term for the row.
template <class Policy>
inline void foldBlockRow(double* acc, std::uint64_t width, const ChunkEntry* row,
                         const ChunkEntry* rowEnd, unsigned blockLanes, const ChunkEntry* shared,
                         const ChunkEntry* sharedEnd, const Policy& policy) {
    LaneVector terms = {};
    double x[kLanes] = {};
    for (const ChunkEntry* e = row; e != rowEnd; ++e) {
        terms[e->lane] = e->term;
        x[e->lane] = e->value;
    }
    const std::uint64_t r = row->row;
    LaneMask inBlock = {};
    for (std::uint64_t b = 0; b < kLanes; ++b) {
        inBlock[b] = (blockLanes >> b & 1u) != 0 ? -1 : 0;
    }
    std::uint64_t jl = 0;
    for (; shared != sharedEnd; ++shared) {
        for (; jl < shared->lane; ++jl) {
            foldLine<Policy>(acc + jl * kLanes, terms);
        }
        const double y = shared->value;
        const double t = shared->term;
        LaneVector both;
        for (std::uint64_t b = 0; b < kLanes; ++b) {
            both[b] = policy.both(x[b], y, r);
        }
        const LaneVector alone = {t, t, t, t, t, t, t, t};
        const LaneVector mixed = inBlock ? both : alone;
        foldLine<Policy>(acc + jl * kLanes, mixed);
        ++jl;
    }
    for (; jl < width; ++jl) {
        foldLine<Policy>(acc + jl * kLanes, terms);
    }
}

// Sweeps the block's and the chunk's entries together in ascending row
// order. Every pair gets exactly one term per row of its union, and the rows
// arrive in ascending order, as in the per-pair merge walk.
template <class Policy>
ROWMETRIC_ISA_CLONES void sweepTile(const ChunkEntry* block, const ChunkEntry* blockEnd,
                                    const ChunkEntry* chunk, const ChunkEntry* chunkEnd,
                                    std::uint64_t width, double* acc, const Policy& policy) {
    const ChunkEntry* q = chunk;
    const ChunkEntry* p = block;
    while (p != blockEnd) {
        const std::uint64_t row = p->row;
        for (; q != chunkEnd && q->row < row; ++q) {
            foldChunkEntry<Policy>(acc, *q, 0);
        }
        const ChunkEntry* sharedEnd = q;
        while (sharedEnd != chunkEnd && sharedEnd->row == row) {
            ++sharedEnd;
        }
        const ChunkEntry* rowEnd = p;
        unsigned blockLanes = 0;
        for (; rowEnd != blockEnd && rowEnd->row == row; ++rowEnd) {
            blockLanes |= 1u << rowEnd->lane;
        }
        if (static_cast<std::uint64_t>(rowEnd - p) >= kVectorRowColumns) {
            foldBlockRow(acc, width, p, rowEnd, blockLanes, q, sharedEnd, policy);
            p = rowEnd;
            q = sharedEnd;
            continue;
        }
        for (; p != rowEnd; ++p) {
            foldBlockEntry(acc, width, *p, q, sharedEnd, policy);
        }
        for (; q != sharedEnd; ++q) {
            foldChunkEntry<Policy>(acc, *q, blockLanes);
        }
    }
    for (; q != chunkEnd; ++q) {
        foldChunkEntry<Policy>(acc, *q, 0);
    }
}

// Writes the finished pairs (i, j), i < j, of one tile to the condensed
// output; a NaN distance is recomputed by the body's kernel.
template <class Body, class Policy>
void storeTile(const double* acc, const Body& body, std::uint64_t i0, std::uint64_t lanes,
               std::uint64_t j0, std::uint64_t width, const Policy& policy) {
    for (std::uint64_t b = 0; b < lanes; ++b) {
        const std::uint64_t i = i0 + b;
        const std::uint64_t jFirst = std::max(j0, i + 1);
        if (jFirst >= j0 + width) {
            continue;
        }
        double* dst = body.out + condensedPosition(i, jFirst, body.n);
        for (std::uint64_t j = jFirst; j < j0 + width; ++j) {
            const double d = policy.finish(acc[(j - j0) * kLanes + b]);
            *dst++ = d == d ? d : body.distance(i, j);
        }
    }
}

}  // namespace detail

// The pairs of an order-dependent fold (sums of squares, of absolute values,
// of powers, and the maximum) of the body's rows, written to its output.
// Blocks of kLanes columns are spread over threads; each block sweeps every
// chunk that holds a column to its right. Each pair is computed by one tile
// in one fixed order, so the result does not depend on the thread count.
template <class Body>
void runTileSweep(const Body& body, const MatrixShape& shape) {
    countPathRun(Path::tileSweep);
    const auto policy = body.call.policy();
    static_assert(std::is_same_v<typename decltype(policy)::Acc, double>);
    const std::uint64_t n = shape.n;
    const std::uint64_t* colStart = body.colStart;
    // Chunks for every column; blocks, split from them, for the rows computed.
    const ChunkLists chunks =
        buildChunkLists(body.values, body.rowIndex, colStart, n, kTileWidth, policy);
    const ChunkLists blocks = splitChunkLists(chunks, colStart, n, kLanes, body.rowLimit);
    const std::uint64_t base = colStart[0];
    const std::uint64_t blockCount = (body.rowLimit + kLanes - 1) / kLanes;

    tbb::enumerable_thread_specific<std::vector<double>> scratch(
        [] { return std::vector<double>(kTileWidth * kLanes); });
    parallelForEach(blockCount, [&](std::uint64_t blk) {
        double* acc = scratch.local().data();
        const std::uint64_t i0 = blk * kLanes;
        // The block's entries are in row order, so the sweep takes all its
        // columns; only those below rowLimit are stored.
        const std::uint64_t lanes = std::min(kLanes, n - i0);
        const std::uint64_t storedLanes = std::min(lanes, body.rowLimit - i0);
        const ChunkEntry* bBegin = blocks.entries.get() + (colStart[i0] - base);
        const ChunkEntry* bEnd = blocks.entries.get() + (colStart[i0 + lanes] - base);
        for (std::uint64_t j0 = (i0 + 1) / kTileWidth * kTileWidth; j0 < n; j0 += kTileWidth) {
            const std::uint64_t width = std::min(kTileWidth, n - j0);
            const ChunkEntry* cBegin = chunks.entries.get() + (colStart[j0] - base);
            const ChunkEntry* cEnd = chunks.entries.get() + (colStart[j0 + width] - base);
            std::fill(acc, acc + width * kLanes, 0.0);
            detail::sweepTile(bBegin, bEnd, cBegin, cEnd, width, acc, policy);
            detail::storeTile(acc, body, i0, storedLanes, j0, width, policy);
        }
    });
}

}  // namespace rowmetric
