#include "run_installer.hpp"

#include <cstdlib>
#include <string>

#include "agent_acquire.hpp"
#include "cache_trust.hpp"
#include "file_utils.hpp"
#include "messages.hpp"
#include "payload.hpp"
#include "shell_utils.hpp"
#include "temp_workspace.hpp"

namespace setup {

int runInstaller(int argc, char** argv, ReportFn report) {
    TempWorkspace workspace("tmp_install_dir");
    std::string workDir = workspace.path;
    if (std::getenv("__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__") != nullptr) {
        workDir = executableDirectory();
    } else if (workDir.empty()) {
        // Without a private workspace the installer's own directory stands in,
        // but only one that nobody else can slip files into.
        workDir = executableDirectory();
        if (directoryTrust(workDir) != DirectoryTrust::Private) {
            report(untrustedWorkDirectoryMessage(workDir), true);
            return -1;
        }
    }
    const int payloadCode = extractPayload(workDir);
    if (payloadCode != 0) {
        report("Internal error: Failed to initialize application installer (" +
                   std::to_string(payloadCode) + ")",
               true);
        return -1;
    }
    // Holds the cached agent in place until the agent has returned.
    const AcquiredAgent agent = acquireAgent(workDir, report);
    if (agent.launcher.empty()) return -1;
    std::string command = "sh " + quoteArgument(agent.launcher);
    switch (launchAgent(command, workDir, argc, argv, report)) {
        case LaunchOutcome::Ran:
            return 0;
        case LaunchOutcome::Interrupted:
            report("Failed to start the instal agent", true);
            return -1;
        case LaunchOutcome::NotStarted:
            break;
    }
    return -1;
}

}  // namespace setup
