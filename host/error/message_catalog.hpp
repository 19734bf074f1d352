// The host's message catalogs as seen by its exception classes: a stable
// text for every error identifier, known or not.
#pragma once

#include <string>

namespace vornhost::detail {

// The message text for "catalog:key". An identifier without catalog text gets
// a generic sentence naming it. The pointer stays valid for the life of the
// process.
const char* messageFor(const std::string& identifier);

}  // namespace vornhost::detail
