// The entry checks in their documented order: input count, output count, data
// type, parameter class, output size, metric code, parameter presence, size
// and, for an exponent, its value.
#include "entry_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace fuzz {

const rowmetric::CodeEntry* selectedCode(const CallShape& call) {
    if (!call.codeIsText) {
        return nullptr;
    }
    // At most three characters and a NUL are read; all four bytes must match.
    std::array<char, 4> buffer{};
    std::memcpy(buffer.data(), call.codeText.data(),
                std::min<std::size_t>(3, call.codeText.size()));
    for (const rowmetric::CodeEntry& entry : rowmetric::kCodes) {
        if (std::memcmp(buffer.data(), entry.code, 4) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

std::string expectedErrorKey(const CallShape& call) {
    using rowmetric::ParameterRule;
    if (call.inputCount < 2) {
        return "TooFewInputs";
    }
    if (call.outputCount > 1) {
        return "TooManyOutputs";
    }
    if (!call.dataIsSparseDouble) {
        return "BadInputType";
    }
    const rowmetric::CodeEntry* code = selectedCode(call);
    const ParameterRule rule =
        code != nullptr ? rowmetric::bodyEntry(code->body).parameter : ParameterRule::none;
    const bool present = call.hasParameter && !call.parameterEmpty;
    if (present && rule != ParameterRule::exponent && !call.parameterClassMatches) {
        return "MixedInputTypes";
    }
    if (code == nullptr) {
        return "UnknownMetric";
    }
    if (rule != ParameterRule::none && !present) {
        return "MissingParameter";
    }
    if (!present) {
        return "";
    }
    if (rule == ParameterRule::weights && call.parameterDenseCount != call.nvars) {
        return "BadParameterSize";
    }
    if (rule == ParameterRule::factor && call.parameterDenseCount != call.nvars * call.nvars) {
        return "BadParameterSize";
    }
    if (rule == ParameterRule::exponent && call.parameterShapeCount != 1) {
        return "BadParameterSize";
    }
    const double p = call.parameterScalar;
    if (rule == ParameterRule::exponent && !(p > 0.0 && p < HUGE_VAL)) {
        return "BadExponent";
    }
    return "";
}

}  // namespace fuzz
