// The module's call after the entry checks: reads the data matrix, the metric
// code and the optional parameter, checks them, creates and fills the result.
#pragma once

#include "vorn/array_api.hpp"

namespace rowmetric {

// Same arguments as huxFunction; outputCount is not read. Every error is
// raised before the result array is created, so a failed call leaves
// outputs[0] untouched.
void distfun(int outputCount, vornArray** outputs, int inputCount, const vornArray** inputs);

}  // namespace rowmetric
