// choosePath: which way all pairs of one call are computed, decided from the
// metric, the measured shape of X and the processor's vector extensions.
#pragma once

#include "cpu_features.hpp"
#include "lane_tiles.hpp"
#include "matrix_shape.hpp"
#include "metric_registry.hpp"
#include "path_thresholds.hpp"

namespace rowmetric {

// See kSharedRowStepShare.
constexpr bool sharedRowSweepPays(const MatrixShape& shape) {
    const long double walkSteps = static_cast<long double>(shape.n - 1) * shape.stored;
    return kSharedRowStepShare * shape.sameRowPairs <= walkSteps;
}

// See kLaneMinColumns.
constexpr bool laneSweepPays(const MatrixShape& shape, const CpuFeatures& cpu) {
    return cpu.avx512f && shape.n >= kLaneMinColumns &&
           shape.stored >= kLaneMinEntriesPerColumn * shape.n &&
           shape.rows * kLaneEntriesPerRow <= shape.stored;
}

// Whether a path can compute a matrix of this shape at all, paying or not:
// the row-index sweeps need their index, the dense inner products a fully
// stored matrix, the lane sweep lists that hold its longest column.
constexpr bool pathCanRun(Path path, const MatrixShape& shape) {
    switch (path) {
        case Path::pairLoop:
        case Path::mahalanobisSweep:
            return true;
        case Path::tileSweep:
        case Path::sharedRowSweep:
            return rowIndexAffordable(shape);
        case Path::denseInnerProducts:
            return fullyStored(shape);
        case Path::laneSweep:
            return laneSweepFits(shape);
    }
    return false;
}

// Whether a path can serve a matrix of this shape well on this processor.
constexpr bool pathServes(Path path, const MatrixShape& shape, const CpuFeatures& cpu) {
    if (!pathCanRun(path, shape)) {
        return false;
    }
    switch (path) {
        case Path::denseInnerProducts:
            return rowIndexAffordable(shape);
        case Path::sharedRowSweep:
            return sharedRowSweepPays(shape);
        case Path::laneSweep:
            return laneSweepPays(shape, cpu);
        default:
            return true;
    }
}

// The first of the metric's fast paths that serves the shape, else the pair
// loop. With fewer than two observations there is nothing to gain. The
// processor's features are those of the machine unless a test names them.
constexpr Path choosePath(BodyKind metric, const MatrixShape& shape,
                          const CpuFeatures& cpu = cpuFeatures()) {
    if (shape.n < 2) {
        return Path::pairLoop;
    }
    for (Path path : bodyEntry(metric).fastPaths) {
        if (path != Path::pairLoop && pathServes(path, shape, cpu)) {
            return path;
        }
    }
    return Path::pairLoop;
}

}  // namespace rowmetric
