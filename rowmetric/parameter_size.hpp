// Rules for the optional third argument: that it is there when the metric
// reads it, has exactly the size it reads, and holds a usable exponent.
#pragma once

#include "vorn/array_api.hpp"
#include "metric_registry.hpp"

#include <cstdint>
#include <limits>
#include <string>

namespace rowmetric {

// The third argument as the rules see it, whether a host array or a plain
// block of doubles handed it over.
struct ParameterView {
    bool present = false;    // given and not empty
    bool sparse = false;     // a sparse array, whose data hold only its stored entries
    std::uint64_t rows = 0;  // its shape
    std::uint64_t cols = 0;
    std::uint64_t stored = 0;  // elements its data hold
    double scalar = 0.0;       // its first element as a double, where the rule reads one
};

// A host array, null or empty for an absent argument. Its scalar is read
// (vornGetScalar converts any class) only when `rule` reads an exponent.
ParameterView parameterView(const vornArray* param, ParameterRule rule);

// Whether a present, non-empty third argument has the size its rule reads:
// exactly nvars weights, exactly nvars*nvars matrix elements, or exactly one
// exponent. A rule that reads nothing fits any size.
bool parameterSizeFits(ParameterRule rule, const ParameterView& param, std::uint64_t nvars);

// Minkowski's (sum |x-y|^p)^(1/p) is a distance for p >= 1 and still a sound
// dissimilarity for 0 < p < 1; p = 0, a negative p, NaN or an infinity give
// infinities or NaN, never a distance.
constexpr bool exponentUsable(double p) {
    return p > 0.0 && p < std::numeric_limits<double>::infinity();
}

enum class ParameterProblem { none, missing, wrongSize, badExponent };

// What is wrong with the third argument for `rule`, checked in that order.
ParameterProblem parameterProblem(ParameterRule rule, const ParameterView& param,
                                  std::uint64_t nvars);

// For messages: what the rule reads ("a vector of 4 weights, one per row of
// the data matrix"), and what a parameter is ("a 3 x 1 array").
std::string expectedParameter(ParameterRule rule, std::uint64_t nvars);
std::string givenParameter(const ParameterView& param);

// a * b, or the largest 64-bit value when the product would not fit.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b);

}  // namespace rowmetric
