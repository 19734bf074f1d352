// The inputs of a call as the command line names them: MATRIX read and
// prepared into the host's sparse array, CODE as text, PARAM as a number or
// a Matrix Market file; and how a failure ends the program.
#pragma once

#include "vornhost/array_factory.hpp"
#include "command_line.hpp"

#include <optional>
#include <string>
#include <vector>

namespace huxrun {

constexpr int kExitCallFailed = 1;
constexpr int kExitBadInput = 2;

// A one-line error and the exit status it ends the program with.
struct Failure {
    int status;
    std::string text;
};

// Appends the inputs the options name (MATRIX, CODE, PARAM, as far as they
// are given) to `inputs`. For a call of huxFunction (not by blocks) a result
// the host could not allocate is refused first, before any preparation.
std::optional<Failure> buildInputs(const RunOptions& options,
                                   std::vector<vornhost::ArrayPtr>& inputs);

}  // namespace huxrun
