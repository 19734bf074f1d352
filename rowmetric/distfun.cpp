#include "distfun.hpp"

#include "call_checks.hpp"
#include "compute_pairs.hpp"
#include "errors.hpp"
#include "pair_count.hpp"

#include <cstdint>
#include <variant>

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

}  // namespace

void distfun(int, vornArray** outputs, int inputCount, const vornArray** inputs) {
    const vornArray* x = inputs[0];
    PairInputs in;
    in.values = static_cast<const double*>(vornGetRealData(x));
    in.rowIndex = vornGetRowIndices(x);
    in.colStart = vornGetColumnStarts(x);
    in.n = api::vornGetN(x);
    in.nvars = vornGetM(x);

    CallFacts call;
    call.code = findCode(readCode(inputs[1]));
    call.n = in.n;
    call.nvars = in.nvars;
    call.rowEnd = in.n;
    const ParameterRule rule =
        call.code != nullptr ? bodyEntry(call.code->body).parameter : ParameterRule::none;

    // The exponent of "min" may be of any class; every other code's parameter
    // must share X's class, whether or not the code reads it.
    const vornArray* param = inputCount > 2 ? inputs[2] : nullptr;
    call.param = parameterView(param, rule);
    if (call.param.present && rule == ParameterRule::exponent) {
        in.exponent = call.param.scalar;
    } else if (call.param.present) {
        if (vornGetClassID(param) != vornGetClassID(x)) {
            errors::raise(errors::MixedInputTypes{});
        }
        in.paramData = static_cast<const double*>(vornGetRealData(param));
    }

    if (const std::optional<CallProblem> problem = callProblem(call)) {
        std::visit([](const auto& id) { errors::raise(id); }, *problem);
    }

    outputs[0] =
        api::vornCreateNumericMatrix(1, *boundedPairCount(in.n), vornGetClassID(x), vornReal);
    in.out = static_cast<double*>(vornGetRealData(outputs[0]));
    computePairs(call.code->body, in);
}

}  // namespace rowmetric
