// runPairs: computes the pairs of all rows or a slice of them by the path
// choosePath picks for the measured matrix; every path gives the plain pair
// loop's bits.
#pragma once

#include "matrix_shape.hpp"
#include "metric_bodies.hpp"
#include "pair_loop.hpp"
#include "path_choice.hpp"
#include "sweep_cooccurrence.hpp"
#include "sweep_dense_dot.hpp"
#include "sweep_lanes.hpp"
#include "sweep_mahalanobis.hpp"
#include "sweep_tiles.hpp"

namespace rowmetric {

// Runs one path on the body, whose matrix has `shape`. A path the body's
// metric may not take, or that cannot run (pathCanRun) on the matrix it was
// chosen for, runs the plain loop. That matrix is the body's own, or the
// whole matrix when the body computes a slice: what the whole can afford,
// the columns of a slice can.
template <class Call>
void runPath(Path path, const MetricBody<Call>& body, const MatrixShape& shape,
             const MatrixShape& chosenFor) {
    constexpr BodyKind kind = Call::kKind;
    if (!pathCanRun(path, chosenFor)) {
        return runPairLoop(body);
    }
    switch (path) {
        case Path::laneSweep:
            if constexpr (mayServe(kind, Path::laneSweep)) {
                return runLaneSweep(body, shape);
            }
            break;
        case Path::tileSweep:
            if constexpr (mayServe(kind, Path::tileSweep)) {
                return runTileSweep(body, shape);
            }
            break;
        case Path::sharedRowSweep:
            if constexpr (mayServe(kind, Path::sharedRowSweep)) {
                return runSharedRowSweep(body, shape);
            }
            break;
        case Path::denseInnerProducts:
            if constexpr (mayServe(kind, Path::denseInnerProducts)) {
                return runDenseInnerProducts(body, shape);
            }
            break;
        case Path::mahalanobisSweep:
            if constexpr (mayServe(kind, Path::mahalanobisSweep)) {
                return runMahalanobisSweep(body);
            }
            break;
        case Path::pairLoop:
            break;
    }
    runPairLoop(body);
}

template <class Call>
void runPath(Path path, const MetricBody<Call>& body, const MatrixShape& shape) {
    runPath(path, body, shape, shape);
}

// All pairs of a body over its whole matrix.
template <class Call>
void runPairs(const MetricBody<Call>& body) {
    const MatrixShape shape = measureMatrix(body.rowIndex, body.colStart, body.n);
    runPath(choosePath(Call::kKind, shape), body, shape);
}

// The pairs of the rows of `in` (all rows unless it names a slice) into
// in.out, by the path chosen for the whole matrix: a slice takes the path the
// whole call takes.
inline void runPairs(BodyKind kind, const PairInputs& in) {
    const MatrixShape whole = measureMatrix(in.rowIndex, in.colStart, in.n);
    const Path path = choosePath(kind, whole);
    const MatrixShape shape = columnsFrom(whole, in.colStart, rowsOf(in).begin);
    withBody(kind, in, [&](const auto& body) { runPath(path, body, shape, whole); });
}

}  // namespace rowmetric
