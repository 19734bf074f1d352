// choosePath: which way all pairs of one call are computed, decided from the
// metric and the measured shape of X alone.
#pragma once

#include "matrix_shape.hpp"
#include "metric_registry.hpp"
#include "path_thresholds.hpp"

namespace rowmetric {

// See kSharedRowStepShare.
constexpr bool sharedRowSweepPays(const MatrixShape& shape) {
    const long double walkSteps = static_cast<long double>(shape.n - 1) * shape.stored;
    return kSharedRowStepShare * shape.sameRowPairs <= walkSteps;
}

// Whether a path can serve a matrix of this shape well.
constexpr bool pathServes(Path path, const MatrixShape& shape) {
    switch (path) {
        case Path::pairLoop:
        case Path::mahalanobisSweep:
            return true;
        case Path::tileSweep:
            return rowIndexAffordable(shape);
        case Path::denseInnerProducts:
            return rowIndexAffordable(shape) && fullyStored(shape);
        case Path::sharedRowSweep:
            return rowIndexAffordable(shape) && sharedRowSweepPays(shape);
    }
    return false;
}

// The first of the metric's fast paths that serves the shape, else the pair
// loop. With fewer than two observations there is nothing to gain.
constexpr Path choosePath(BodyKind metric, const MatrixShape& shape) {
    if (shape.n < 2) {
        return Path::pairLoop;
    }
    for (Path path : bodyEntry(metric).fastPaths) {
        if (path != Path::pairLoop && pathServes(path, shape)) {
            return path;
        }
    }
    return Path::pairLoop;
}

}  // namespace rowmetric
