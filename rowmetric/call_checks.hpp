// The checks every call of the module makes, whichever entry it came through:
// output size, row range, metric code and parameter, in that order.
#pragma once

#include "metric_registry.hpp"
#include "msg_ids.hpp"
#include "parameter_size.hpp"

#include <cstdint>
#include <optional>
#include <variant>

namespace rowmetric {

// What a call asks for, once its arguments are read.
struct CallFacts {
    const CodeEntry* code = nullptr;  // null: the text names no metric
    ParameterView param;
    std::uint64_t n = 0;         // observations (columns)
    std::uint64_t nvars = 0;     // variables (rows)
    std::uint64_t rowBegin = 0;  // the rows i whose pairs (i, j > i) are asked for
    std::uint64_t rowEnd = 0;
};

namespace pd = qualbox::pdisthux;

// The first failed check, as the message identifier of its key.
using CallProblem = std::variant<pd::OutputTooLarge, pd::BadRowRange, pd::UnknownMetric,
                                 pd::MissingParameter, pd::BadParameterSize, pd::BadExponent>;

std::optional<CallProblem> callProblem(const CallFacts& call);

}  // namespace rowmetric
