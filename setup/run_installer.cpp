#include "run_installer.hpp"

#include <cstdlib>
#include <string>

#include "agent_acquire.hpp"
#include "file_utils.hpp"
#include "payload.hpp"
#include "shell_utils.hpp"
#include "temp_workspace.hpp"

namespace setup {

int runInstaller(int argc, char** argv, ReportFn report) {
    TempWorkspace workspace("tmp_install_dir");
    std::string workDir = workspace.path;
    if (workDir.empty() || std::getenv("__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__") != nullptr) {
        workDir = executableDirectory();
    }
    const int payloadCode = extractPayload(workDir);
    if (payloadCode != 0) {
        report("Internal error: Failed to initialize application installer (" +
                   std::to_string(payloadCode) + ")",
               true);
        return -1;
    }
    const std::string agentPath = acquireAgent(workDir, report);
    if (agentPath.empty()) return -1;
    std::string command = "sh " + quoteArgument(agentPath);
    if (!launchAgent(command, workDir, argc, argv, report)) {
        report("Failed to start the instal agent", true);
        return -1;
    }
    return 0;
}

}  // namespace setup
