// The module's exported face: the host's entry point and the query for the
// host interface version the module was built against.
#pragma once

#include "vorn/array_api.hpp"

#include <cstdint>

extern "C" {

// Computes the condensed pairwise distances of the columns of inputs[0]
// (sparse double) with the metric coded by inputs[1] and the optional
// parameter inputs[2]; the 1 x N(N-1)/2 result goes to outputs[0].
[[gnu::visibility("default")]] void huxFunction(int outputCount, vornArray** outputs,
                                                int inputCount, const vornArray** inputs);

// Writes the release identifier and the required array-interface version.
[[gnu::visibility("default")]] void huxfilerequiredapiversion(std::int32_t* release,
                                                              std::int32_t* apiVersion);
}
