#include "agent_cache.hpp"

#include "constants.hpp"
#include "file_utils.hpp"

namespace setup {

std::string agentLauncherPath(const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != kPathSeparator[0]) path += kPathSeparator;
    return path + "install";
}

std::string cachedAgentDirectory() {
    const std::string directory = userBaseDirectory() + kAgentDirName + kPathSeparator;
    if (!pathExists(agentLauncherPath(directory))) return "";
    return directory;
}

}  // namespace setup
