#include "payload.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "constants.hpp"
#include "file_utils.hpp"
#include "messages.hpp"
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
    const std::string command = "unzip -qq -o " + quoteArgument(installerFile) + " -d " +
                                quoteArgument(workDir) + kSilently;
    if (!unzipSucceeded(runShellCommand(command))) return kPayloadFailure;
    if (!isRegularFile(workDir + kPathSeparator + kBundleName)) return kPayloadFailure;
    return 0;
}

int extractPayload(const std::string& workDir) {
    return extractPayloadFrom(processImagePath(), workDir);
}

std::size_t longestShellCommand() {
    // One argument may hold at most 32 pages, its NUL included.
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t longest = 32 * page - 1;
    // All arguments and the environment together, with their pointers, must
    // also fit ARG_MAX: count the environment and "sh", "-c".
    const long argMax = sysconf(_SC_ARG_MAX);
    if (argMax <= 0) return longest;
    std::size_t used = sizeof "sh" + sizeof "-c" + 4 * sizeof(char*);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        used += std::strlen(*entry) + 1 + sizeof(char*);
    }
    const std::size_t total = static_cast<std::size_t>(argMax);
    const std::size_t room = used + 1 < total ? total - used - 1 : 0;
    return room < longest ? room : longest;
}

LaunchOutcome launchAgent(std::string& command, const std::string& workDir, int argc, char** argv,
                          ReportFn report) {
    const std::string bundle = workDir + kPathSeparator + kBundleName;
    std::string tail = " -installbundle " + quoteArgument(bundle);
    if (argc > 1) tail += " " + joinArguments(argc, argv);
    command += tail;
    const std::size_t longest = longestShellCommand();
    if (command.size() > longest) {
        report(commandTooLongMessage(command.size(), longest), true);
        return LaunchOutcome::NotStarted;
    }
    int status = 0;
    int error = 0;
    try {
        const std::string line = command;
        status = runShellCommand(line, ShellChild::agent);
        error = errno;
    } catch (const std::exception&) {
        report("Failed to start the instal agent", true);
        return LaunchOutcome::Interrupted;
    }
    if (status == -1) {
        report(shellNotStartedMessage(error), true);
        return LaunchOutcome::NotStarted;
    }
    return LaunchOutcome::Ran;
}

}  // namespace setup
