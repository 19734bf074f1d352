// Where the install agent's launcher lives, in a given directory and in the
// per-user agent cache.
#pragma once

#include <string>

namespace setup {

// directory + "/" (unless empty or already ending in "/") + "install".
std::string agentLauncherPath(const std::string& directory);

// The cached agent directory (with a trailing "/") when its launcher exists,
// otherwise "".
std::string cachedAgentDirectory();

}  // namespace setup
