#include "agent_cache.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "constants.hpp"
#include "file_utils.hpp"

namespace setup {

std::string agentLauncherPath(const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != kPathSeparator[0]) path += kPathSeparator;
    return path + "install";
}

bool launcherUsable(const std::string& launcher) {
    struct stat st {};
    return stat(launcher.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(launcher.c_str(), R_OK) == 0;
}

std::string cachedAgentDirectory() {
    const std::string directory = userBaseDirectory() + kAgentDirName + kPathSeparator;
    if (!launcherUsable(agentLauncherPath(directory))) return "";
    return directory;
}

}  // namespace setup
