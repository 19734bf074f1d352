#include "parameter_size.hpp"

namespace rowmetric {

using matrix::detail::noninlined::vorn_array_api::vornGetN;

namespace {

std::uint64_t shapeElementCount(const vornArray* param) {
    return saturatingProduct(vornGetM(param), vornGetN(param));
}

}  // namespace

std::uint64_t denseElementCount(const vornArray* param) {
    const std::uint64_t elements = shapeElementCount(param);
    if (!vornIsSparse(param)) {
        return elements;
    }
    const std::uint64_t stored = vornGetColumnStarts(param)[vornGetN(param)];
    return stored == elements ? elements : 0;
}

bool parameterSizeFits(ParameterRule rule, const vornArray* param, std::uint64_t nvars) {
    switch (rule) {
        case ParameterRule::weights:
            return denseElementCount(param) >= nvars;
        case ParameterRule::factor:
            return denseElementCount(param) >= saturatingProduct(nvars, nvars);
        case ParameterRule::exponent:
            return shapeElementCount(param) == 1;
        case ParameterRule::none:
            return true;
    }
    return true;
}

}  // namespace rowmetric
