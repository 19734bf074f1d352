// One call of a module's huxFunction: output slots in, result or error out,
// with every array the module created handed back to the host's ownership.
#pragma once

#include "vornhost/array_factory.hpp"
#include "module_library.hpp"

#include <string>
#include <vector>

namespace huxrun {

struct CallOutcome {
    vornhost::ArrayPtr result;  // outputs[0] on success, else null
    std::string error;          // one line "Error: <message> (<identifier>)" on failure
    bool ok() const { return error.empty(); }
};

// Calls `entry` with max(outputCount, 1) empty output slots and `inputs`.
// The message and identifier of a failure come from what the host recorded
// during the call, or else from the exception that left the module. A call
// that returns normally but leaves outputs[0] empty, or during which the
// host recorded an error, has failed too.
CallOutcome callModule(HuxFunction entry, int outputCount,
                       const std::vector<const vornArray*>& inputs);

}  // namespace huxrun
