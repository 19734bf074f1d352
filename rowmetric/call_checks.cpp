#include "call_checks.hpp"

#include "pair_count.hpp"

#include <string>

namespace rowmetric {

namespace {

// "euc, sqe, ..., mah": the codes for the unknown-metric message.
std::string codeList() {
    std::string list;
    for (const CodeEntry& entry : kCodes) {
        list += (list.empty() ? "" : ", ") + std::string(entry.code);
    }
    return list;
}

}  // namespace

std::optional<CallProblem> callProblem(const CallFacts& call) {
    if (!boundedPairCount(call.n)) {
        return pd::OutputTooLarge{};
    }
    if (!(call.rowBegin <= call.rowEnd && call.rowEnd <= call.n)) {
        return pd::BadRowRange{std::to_string(call.rowBegin), std::to_string(call.rowEnd),
                               std::to_string(call.n)};
    }
    if (call.code == nullptr) {
        return pd::UnknownMetric{codeList()};
    }
    const ParameterRule rule = bodyEntry(call.code->body).parameter;
    switch (parameterProblem(rule, call.param, call.nvars)) {
        case ParameterProblem::missing:
            return pd::MissingParameter{};
        case ParameterProblem::wrongSize:
            return pd::BadParameterSize{expectedParameter(rule, call.nvars),
                                        givenParameter(call.param)};
        case ParameterProblem::badExponent:
            return pd::BadExponent{};
        case ParameterProblem::none:
            break;
    }
    return std::nullopt;
}

}  // namespace rowmetric
