// runPairs: the pair loop's drop-in replacement, sending each metric body to
// its exact fast path when one applies and to the plain pair loop otherwise.
#pragma once

#include "pair_loop.hpp"
#include "sweep_cooccurrence.hpp"
#include "sweep_dense_dot.hpp"
#include "sweep_mahalanobis.hpp"
#include "sweep_row_index.hpp"
#include "sweep_terms.hpp"
#include "sweep_tiles.hpp"

#include <cstdint>

namespace rowmetric {

// Every fast path writes, for every pair, the same bits as the body's kernel:
// sums are folded in ascending row order of the pair's union, counts are
// integers, and the maximum does not depend on order. Bodies without a fast
// path, calls with fewer than two observations, and matrices the row index
// does not suit (see rowIndexAffordable) run the plain pair loop.
template <class Body>
void runPairs(const Body& body) {
    runPairLoop(body);
}

namespace detail {

template <class Body, class FastPath>
void sweepOrLoop(const Body& body, const FastPath& fastPath) {
    if (body.n < 2) {
        runPairLoop(body);
        return;
    }
    const MatrixShape shape = measureMatrix(body.rowIndex, body.colStart, body.n);
    if (!rowIndexAffordable(shape)) {
        runPairLoop(body);
        return;
    }
    fastPath(shape);
}

// The shared-row sweeps, where they pay (see sharedRowSweepPays).
template <class Body, class Sweep>
void sharedRowSweepOrLoop(const Body& body, const Sweep& sweep) {
    sweepOrLoop(body, [&](const MatrixShape& shape) {
        const RowIndex index = buildRowIndex(body.values, body.rowIndex, body.colStart, shape);
        if (!sharedRowSweepPays(index, shape)) {
            runPairLoop(body);
            return;
        }
        sweep(shape, index);
    });
}

template <class Body, class Terms>
void tileSweepOrLoop(const Body& body, const Terms& terms) {
    sweepOrLoop(body, [&](const MatrixShape& shape) {
        runTileSweep(body.values, body.rowIndex, body.colStart, shape, body.out, terms);
    });
}

}  // namespace detail

inline void runPairs(const EucBody& body) {
    detail::tileSweepOrLoop(body, SquaredTerms{{}, false});
}

inline void runPairs(const SqeBody& body) { detail::tileSweepOrLoop(body, SquaredTerms{{}, true}); }

inline void runPairs(const SeuBody& body) {
    if (body.weights == nullptr) {
        runPairLoop(body);
        return;
    }
    detail::tileSweepOrLoop(body, WeightedSquaredTerms{{}, body.weights});
}

inline void runPairs(const CitBody& body) { detail::tileSweepOrLoop(body, AbsoluteTerms{}); }

inline void runPairs(const MinBody& body) {
    detail::tileSweepOrLoop(body, PowerTerms{{}, body.exponent});
}

inline void runPairs(const CheBody& body) { detail::tileSweepOrLoop(body, MaxAbsoluteTerms{}); }

// Sparse columns share few rows: the shared-row sweep. Fully stored columns
// (the caller centred or ranked them) share every row: register tiles over
// a panel copy. In between, the pair loop.
inline void runPairs(const DotBody& body) {
    detail::sweepOrLoop(body, [&](const MatrixShape& shape) {
        if (fullyStored(shape)) {
            runDenseInnerProducts(body.values, body.rowIndex, body.colStart, shape, body.out);
            return;
        }
        const RowIndex index = buildRowIndex(body.values, body.rowIndex, body.colStart, shape);
        if (!sharedRowSweepPays(index, shape)) {
            runPairLoop(body);
            return;
        }
        runInnerProductSweep(body.values, body.rowIndex, body.colStart, shape, index, body.out);
    });
}

inline void runPairs(const HamBody& body) {
    detail::sharedRowSweepOrLoop(body, [&](const MatrixShape& shape, const RowIndex& index) {
        runCountSweep(body.values, body.rowIndex, body.colStart, shape, index, body.out,
                      CountDistance::hamming, body.nvars);
    });
}

inline void runPairs(const JacBody& body) {
    detail::sharedRowSweepOrLoop(body, [&](const MatrixShape& shape, const RowIndex& index) {
        runCountSweep(body.values, body.rowIndex, body.colStart, shape, index, body.out,
                      CountDistance::jaccard, 0);
    });
}

inline void runPairs(const MahBody& body) {
    if (body.invFactor == nullptr || body.n < 2) {
        runPairLoop(body);
        return;
    }
    runMahalanobisSweep(body.values, body.rowIndex, body.colStart, body.n, body.out, body.invFactor,
                        body.nvars);
}

}  // namespace rowmetric
