#include "run_installer.hpp"

#include <cstdlib>
#include <memory>
#include <string>

#include "agent_acquire.hpp"
#include "cache_trust.hpp"
#include "file_utils.hpp"
#include "messages.hpp"
#include "payload.hpp"
#include "shell_utils.hpp"
#include "temp_workspace.hpp"

namespace setup {
namespace {

// Makes the run's workspace: in /tmp, or beside the installer when /tmp
// cannot hold one or __ZQ_BOOTSTRAP_INSTALLER_UNITTEST__ is set (to
// anything). The installer's directory is used only when nobody else can
// slip files into it, and then only through a fresh directory of this run's
// own, so nothing already lying there is taken for part of the payload.
// Reports and returns nullptr when there is none.
std::unique_ptr<TempWorkspace> makeWorkspace(ReportFn report) {
    const bool besideInstaller = std::getenv("__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__") != nullptr;
    if (!besideInstaller) {
        // /tmp is fixed on purpose: TMPDIR is not consulted.
        auto inTmp = std::make_unique<TempWorkspace>("/tmp");
        if (!inTmp->path.empty()) return inTmp;
    }
    const std::string own = executableDirectory();
    if (directoryTrust(own) != DirectoryTrust::Private) {
        report(untrustedWorkDirectoryMessage(own, !besideInstaller), true);
        return nullptr;
    }
    auto beside = std::make_unique<TempWorkspace>(own);
    if (beside->path.empty()) {
        report(noWorkDirectoryMessage(own, !besideInstaller, beside->error), true);
        return nullptr;
    }
    return beside;
}

}  // namespace

int runInstaller(int argc, char** argv, ReportFn report) {
    const std::unique_ptr<TempWorkspace> workspace = makeWorkspace(report);
    if (!workspace) return -1;
    const std::string& workDir = workspace->path;
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
