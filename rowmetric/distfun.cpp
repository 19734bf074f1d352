#include "distfun.hpp"

#include "errors.hpp"
#include "metric_bodies.hpp"
#include "metric_registry.hpp"
#include "pair_count.hpp"
#include "parameter_size.hpp"
#include "run_pairs.hpp"

#include <cstdint>
#include <optional>
#include <string>

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

// "euc, sqe, ..., mah": the codes for the unknown-metric message.
std::string codeList() {
    std::string list;
    for (const CodeEntry& entry : kCodes) {
        list += (list.empty() ? "" : ", ") + std::string(entry.code);
    }
    return list;
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
        errors::raise(errors::UnknownMetric{codeList()});
    }
    switch (parameterProblem(rule, param, in.nvars)) {
        case ParameterProblem::missing:
            errors::raise(errors::MissingParameter{});
        case ParameterProblem::wrongSize:
            errors::raise(
                errors::BadParameterSize{expectedParameter(rule, in.nvars), givenParameter(param)});
        case ParameterProblem::badExponent:
            errors::raise(errors::BadExponent{});
        case ParameterProblem::none:
            break;
    }

    outputs[0] = api::vornCreateNumericMatrix(1, *pairs, vornGetClassID(x), vornReal);
    if (in.n == 0) {
        return;
    }
    in.out = static_cast<double*>(vornGetRealData(outputs[0]));
    withBody(code->body, in, [](const auto& body) { runPairs(body); });
}

}  // namespace rowmetric
