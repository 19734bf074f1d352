#include "agent_unpack.hpp"

#include <exception>

#include "agent_cache.hpp"
#include "file_utils.hpp"
#include "messages.hpp"
#include "shell_utils.hpp"

namespace setup {

bool unpackAgent(const std::string& archive, const std::string& destination,
                 const std::string& unzipProgram, ReportFn report) {
    if (!pathExists(archive)) return false;
    int status = 0;
    try {
        const std::string command = quoteArgument(unzipProgram) + " -qq -o " +
                                    quoteArgument(archive) + " -d " + quoteArgument(destination) +
                                    kSilently;
        status = runShellCommand(command);
    } catch (const std::exception&) {
        return false;
    }
    if (status != 0) {
        report("Failed to unzip the install agent", true);
        return false;
    }
    return true;
}

bool unpackRunnableAgent(const std::string& archive, const std::string& directory,
                         ReportFn report) {
    if (unpackAgent(archive, directory, "unzip", report) &&
        launcherUsable(agentLauncherPath(directory))) {
        return true;
    }
    report(kAgentInitFailed, true);
    return false;
}

}  // namespace setup
