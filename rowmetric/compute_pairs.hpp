// The one computation behind both entries: the pairs of a row range, by the
// path chosen for the whole matrix, compiled once for every metric.
#pragma once

#include "metric_bodies.hpp"

namespace rowmetric {

// The pairs (i, j), i in rowsOf(in), j > i, of `kind` into in.out from its
// start, in condensed order. Runs nothing when the range holds no pair.
// Rethrows what the computation throws (std::bad_alloc).
void computePairs(BodyKind kind, const PairInputs& in);

}  // namespace rowmetric
