#include "distfun.hpp"

#include "errors.hpp"
#include "metric_bodies.hpp"
#include "metric_registry.hpp"
#include "pair_count.hpp"
#include "parameter_size.hpp"
#include "run_pairs.hpp"

#include <cstdint>
#include <optional>

namespace rowmetric {

namespace api = matrix::detail::noninlined::vorn_array_api;
namespace errors = qualbox::pdisthux;

namespace {

// The buffer is cleared first: when argument 2 is not text the host leaves
// it as it was, and an all-zero buffer matches no code.
CodeBuffer readCode(const vornArray* codeArg) {
    CodeBuffer code{};
    api::vornGetString(codeArg, code.data(), code.size());
    return code;
}

// The third argument when it is present and not empty, else null.
const vornArray* presentParameter(int inputCount, const vornArray** inputs) {
    if (inputCount <= 2 || api::vornIsEmpty(inputs[2])) {
        return nullptr;
    }
    return inputs[2];
}

}  // namespace

void distfun(int, vornArray** outputs, int inputCount, const vornArray** inputs) {
    const vornArray* x = inputs[0];
    PairInputs in;
    in.values = static_cast<const double*>(vornGetRealData(x));
    in.rowIndex = vornGetRowIndices(x);
    in.colStart = vornGetColumnStarts(x);
    in.n = api::vornGetN(x);
    in.nvars = vornGetM(x);

    const CodeEntry* code = findCode(readCode(inputs[1]));
    const ParameterRule rule =
        code != nullptr ? bodyEntry(code->body).parameter : ParameterRule::none;

    // The exponent of "min" may be of any class; every other code's parameter
    // must share X's class, whether or not the code reads it.
    const vornArray* param = presentParameter(inputCount, inputs);
    if (param != nullptr && rule == ParameterRule::exponent) {
        in.exponent = api::vornGetScalar(param);
    } else if (param != nullptr) {
        if (vornGetClassID(param) != vornGetClassID(x)) {
            errors::raise(errors::MixedInputTypes{});
        }
        in.paramData = static_cast<const double*>(vornGetRealData(param));
    }

    const std::optional<std::uint64_t> pairs = boundedPairCount(in.n);
    if (!pairs) {
        errors::raise(errors::OutputTooLarge{});
    }
    if (code == nullptr) {
        errors::raise(errors::UnknownMetric{});
    }
    if (readsParameterData(rule) && param == nullptr) {
        errors::raise(errors::MissingParameter{});
    }
    if (param != nullptr && !parameterSizeFits(rule, param, in.nvars)) {
        errors::raise(errors::BadParameterSize{});
    }

    outputs[0] = api::vornCreateNumericMatrix(1, *pairs, vornGetClassID(x), vornReal);
    if (in.n == 0) {
        return;
    }
    in.out = static_cast<double*>(vornGetRealData(outputs[0]));
    withBody(code->body, in, [](const auto& body) { runPairs(body); });
}

}  // namespace rowmetric
