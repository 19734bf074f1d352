#include "parameter_size.hpp"

namespace rowmetric {

using matrix::detail::noninlined::vorn_array_api::vornGetN;
using matrix::detail::noninlined::vorn_array_api::vornGetScalar;
using matrix::detail::noninlined::vorn_array_api::vornIsEmpty;

namespace {

std::uint64_t shapeElementCount(const ParameterView& param) {
    return saturatingProduct(param.rows, param.cols);
}

// Elements of the parameter readable as a dense column-major block through
// its data: rows*cols when every element is stored, else 0 (a sparse
// array's data hold just its stored entries).
std::uint64_t denseElementCount(const ParameterView& param) {
    const std::uint64_t elements = shapeElementCount(param);
    return param.stored == elements ? elements : 0;
}

}  // namespace

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) {
        return UINT64_MAX;
    }
    return a * b;
}

ParameterView parameterView(const vornArray* param, ParameterRule rule) {
    ParameterView view;
    if (param == nullptr || vornIsEmpty(param)) {
        return view;
    }
    view.present = true;
    view.sparse = vornIsSparse(param);
    view.rows = vornGetM(param);
    view.cols = vornGetN(param);
    view.stored = view.sparse ? vornGetColumnStarts(param)[view.cols]
                              : saturatingProduct(view.rows, view.cols);
    if (rule == ParameterRule::exponent) {
        view.scalar = vornGetScalar(param);
    }
    return view;
}

bool parameterSizeFits(ParameterRule rule, const ParameterView& param, std::uint64_t nvars) {
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

ParameterProblem parameterProblem(ParameterRule rule, const ParameterView& param,
                                  std::uint64_t nvars) {
    if (rule == ParameterRule::none) {
        return ParameterProblem::none;
    }
    if (!param.present) {
        return ParameterProblem::missing;
    }
    if (!parameterSizeFits(rule, param, nvars)) {
        return ParameterProblem::wrongSize;
    }
    if (rule == ParameterRule::exponent && !exponentUsable(param.scalar)) {
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

std::string givenParameter(const ParameterView& param) {
    const std::string shape = std::to_string(param.rows) + " x " + std::to_string(param.cols);
    if (!param.sparse) {
        return "a " + shape + " array";
    }
    return "a " + shape + " sparse array storing " + std::to_string(param.stored) + " of its " +
           std::to_string(shapeElementCount(param)) + " elements";
}

}  // namespace rowmetric
