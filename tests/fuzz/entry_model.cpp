// The entry checks in their documented order: input count, output count, data
// type, parameter class, output size, metric code, parameter presence and size.
#include "entry_model.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace fuzz {

std::string selectedCode(const CallShape& call) {
    if (!call.codeIsText) {
        return "";
    }
    // At most three characters and a NUL are read; all four bytes must match.
    std::array<char, 4> buffer{};
    std::memcpy(buffer.data(), call.codeText.data(),
                std::min<std::size_t>(3, call.codeText.size()));
    static const char* const codes[] = {"euc", "sqe", "seu", "cit", "min", "cos",
                                        "cor", "spe", "ham", "jac", "che", "mah"};
    for (const char* code : codes) {
        if (std::memcmp(buffer.data(), code, 4) == 0) {
            return code;
        }
    }
    return "";
}

std::string expectedErrorKey(const CallShape& call) {
    if (call.inputCount < 2) {
        return "TooFewInputs";
    }
    if (call.outputCount > 1) {
        return "TooManyOutputs";
    }
    if (!call.dataIsSparseDouble) {
        return "BadInputType";
    }
    const std::string code = selectedCode(call);
    const bool present = call.hasParameter && !call.parameterEmpty;
    if (present && code != "min" && !call.parameterClassMatches) {
        return "MixedInputTypes";
    }
    if (code.empty()) {
        return "UnknownMetric";
    }
    const bool readsData = code == "seu" || code == "mah";
    if (readsData && !present) {
        return "MissingParameter";
    }
    if (!present) {
        return "";
    }
    if (code == "seu" && call.parameterDenseCount < call.nvars) {
        return "BadParameterSize";
    }
    if (code == "mah" && call.parameterDenseCount < call.nvars * call.nvars) {
        return "BadParameterSize";
    }
    if (code == "min" && call.parameterShapeCount != 1) {
        return "BadParameterSize";
    }
    return "";
}

}  // namespace fuzz
