// What the module's entry point must do with a call, worked out apart from its
// code (only the table of codes and parameter rules is shared): the error key
// the documented checks raise, in their order, or no key when the call must succeed.
#pragma once

#include "metric_registry.hpp"

#include <cstdint>
#include <string>

namespace fuzz {

// The call as the fuzz target built it.
struct CallShape {
    int inputCount = 0;
    int outputCount = 0;
    bool dataIsSparseDouble = false;  // stored class value 6 and sparse
    std::string codeText;             // argument 2 when it is text
    bool codeIsText = false;
    bool hasParameter = false;  // argument 3 exists
    bool parameterEmpty = false;
    bool parameterClassMatches = false;     // resolved class equals the data's
    std::uint64_t parameterShapeCount = 0;  // rows * columns
    std::uint64_t parameterDenseCount = 0;  // elements readable as a dense array
    double parameterScalar = 0.0;           // its element (0, 0) as the host reads it
    std::uint64_t nvars = 0;
};

// The metric code the first three characters select, or null for none.
const rowmetric::CodeEntry* selectedCode(const CallShape& call);

// "" when the call must succeed, else the key of the error it must raise.
std::string expectedErrorKey(const CallShape& call);

}  // namespace fuzz
