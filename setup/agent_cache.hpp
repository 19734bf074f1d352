// Where the install agent's launcher lives, in a given directory and in the
// per-user agent cache.
#pragma once

#include <string>

namespace setup {

// directory + "/" (unless empty or already ending in "/") + "install".
std::string agentLauncherPath(const std::string& directory);

// True when the launcher is something sh can run: a regular file (after
// links) that the user may read. A directory or an unreadable file would
// leave sh with nothing to do, and the run would pass for a success.
bool launcherUsable(const std::string& launcher);

// The cached agent directory (with a trailing "/") when its launcher is
// usable, otherwise "".
std::string cachedAgentDirectory();

}  // namespace setup
