// runPairs: computes all pairs of a metric body by the path choosePath picks
// for the measured matrix; every path gives the plain pair loop's bits.
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

// Runs one path. A path the body's metric may not take, or that cannot run
// on the matrix (pathCanRun), runs the plain loop.
template <class Call>
void runPath(Path path, const MetricBody<Call>& body, const MatrixShape& shape) {
    constexpr BodyKind kind = Call::kKind;
    if (!pathCanRun(path, shape)) {
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
void runPairs(const MetricBody<Call>& body) {
    const MatrixShape shape = measureMatrix(body.rowIndex, body.colStart, body.n);
    runPath(choosePath(Call::kKind, shape), body, shape);
}

}  // namespace rowmetric
