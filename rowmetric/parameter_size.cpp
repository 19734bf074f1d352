#include "parameter_size.hpp"

namespace rowmetric {

using matrix::detail::noninlined::vorn_array_api::vornGetN;
using matrix::detail::noninlined::vorn_array_api::vornGetScalar;

namespace {

// a * b, or the largest 64-bit value when the product would not fit.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) {
        return UINT64_MAX;
    }
    return a * b;
}

std::uint64_t shapeElementCount(const vornArray* param) {
    return saturatingProduct(vornGetM(param), vornGetN(param));
}

std::uint64_t storedCount(const vornArray* param) {
    return vornIsSparse(param) ? vornGetColumnStarts(param)[vornGetN(param)]
                               : shapeElementCount(param);
}

// Elements of the parameter readable as a dense column-major block through
// its real data: m*n for a dense array; for a sparse one m*n only when every
// element is stored, else 0 (its data hold just the stored entries).
std::uint64_t denseElementCount(const vornArray* param) {
    const std::uint64_t elements = shapeElementCount(param);
    return storedCount(param) == elements ? elements : 0;
}

}  // namespace

bool parameterSizeFits(ParameterRule rule, const vornArray* param, std::uint64_t nvars) {
    switch (rule) {
        case ParameterRule::weights:
            return denseElementCount(param) == nvars;
        case ParameterRule::factor:
            return denseElementCount(param) == saturatingProduct(nvars, nvars);
        case ParameterRule::exponent:
            return shapeElementCount(param) == 1;
        case ParameterRule::none:
            return true;
    }
    return true;
}

ParameterProblem parameterProblem(ParameterRule rule, const vornArray* param, std::uint64_t nvars) {
    if (rule == ParameterRule::none) {
        return ParameterProblem::none;
    }
    if (param == nullptr) {
        return ParameterProblem::missing;
    }
    if (!parameterSizeFits(rule, param, nvars)) {
        return ParameterProblem::wrongSize;
    }
    if (rule == ParameterRule::exponent && !exponentUsable(vornGetScalar(param))) {
        return ParameterProblem::badExponent;
    }
    return ParameterProblem::none;
}

std::string expectedParameter(ParameterRule rule, std::uint64_t nvars) {
    const std::string m = std::to_string(nvars);
    switch (rule) {
        case ParameterRule::weights:
            return "a vector of " + m + " weights, one per row of the data matrix";
        case ParameterRule::factor:
            return "the " + m + " x " + m + " factor U (" +
                   std::to_string(saturatingProduct(nvars, nvars)) + " elements)";
        case ParameterRule::exponent:
            return "a single number";
        case ParameterRule::none:
            break;
    }
    return "nothing";
}

std::string givenParameter(const vornArray* param) {
    const std::string shape =
        std::to_string(vornGetM(param)) + " x " + std::to_string(vornGetN(param));
    if (!vornIsSparse(param)) {
        return "a " + shape + " array";
    }
    return "a " + shape + " sparse array storing " + std::to_string(storedCount(param)) +
           " of its " + std::to_string(shapeElementCount(param)) + " elements";
}

}  // namespace rowmetric
