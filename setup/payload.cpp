#include "payload.hpp"

#include <exception>
#include <sys/stat.h>
#include <sys/wait.h>

#include "constants.hpp"
#include "file_utils.hpp"
#include "shell_utils.hpp"

namespace setup {
namespace {

constexpr char kBundleName[] = "bundle.zip";

// unzip's exit status 1 means warnings only; 2 and above mean the archive
// was damaged, missing or not fully extracted.
bool unzipSucceeded(int status) {
    if (status == -1 || (status & 0x7F) != 0) return false;
    return WEXITSTATUS(status) < 2;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int extractPayloadFrom(const std::string& installerFile, const std::string& workDir) {
    const std::string command =
        "unzip -qq " + quoteArgument(installerFile) + " -d " + quoteArgument(workDir) + kSilently;
    if (!unzipSucceeded(runShellCommand(command))) return kPayloadFailure;
    if (!isRegularFile(workDir + kPathSeparator + kBundleName)) return kPayloadFailure;
    return 0;
}

int extractPayload(const std::string& workDir) {
    return extractPayloadFrom(executablePath(), workDir);
}

bool launchAgent(std::string& command, const std::string& workDir, int argc, char** argv,
                 ReportFn report) {
    const std::string bundle = workDir + kPathSeparator + kBundleName;
    std::string tail = " -installbundle " + quoteArgument(bundle);
    if (argc > 1) tail += " " + joinArguments(argc, argv);
    command += tail;
    try {
        const std::string line = command;
        runShellCommand(line);
    } catch (const std::exception&) {
        report("Failed to start the instal agent", true);
        return false;
    }
    return true;
}

}  // namespace setup
