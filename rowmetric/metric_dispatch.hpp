// Runs the pair loop with the body of a chosen metric: the metric is
// resolved once here, so each body runs with its kernel fixed at build time.
#pragma once

#include "metric_code.hpp"

#include <cstdint>

namespace rowmetric {

// Everything a body's record is filled from.
struct PairInputs {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    double exponent;          // "min"
    const double* paramData;  // "seu" weights, "mah" inverse factor
    std::uint64_t nvars;      // "ham", "mah"
};

// Fills out with the distances of all pairs; metric must be a known code.
void runMetric(Metric metric, const PairInputs& in);

}  // namespace rowmetric
