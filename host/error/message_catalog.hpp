// The host's message catalogs as seen by its exception classes: a stable
// text for every message identifier, known or not.
#pragma once

#include "vorn/error_api.hpp"

namespace vornhost::detail {

// The message text for "catalog:key", followed by its detail filled with the
// message identifier's arguments when it has any. An identifier without
// catalog text gets a generic sentence naming it. The pointer stays valid for
// the life of the process.
const char* messageFor(const std::string& identifier,
                       const std::vector<resource_core::BaseMsgID::Argument>& arguments);

}  // namespace vornhost::detail
