// Both ends of the bundle's life in the installer: unpacking the payload out
// of the installer's own file, and starting the agent on the bundle.
#pragma once

#include <cstddef>
#include <string>

#include "report.hpp"

namespace setup {

inline constexpr int kPayloadFailure = 201;

// Unpacks the ZIP archive appended to this program's file into workDir
// (overwriting, though a fresh workspace holds nothing yet),
// reading the running image itself (/proc/<pid>/exe), so that a file moved
// onto the installer's path meanwhile changes nothing. Returns 0, or 201 when
// unzip could not run, failed, or left no bundle.zip.
int extractPayload(const std::string& workDir);

// extractPayload for an explicit installer file.
int extractPayloadFrom(const std::string& installerFile, const std::string& workDir);

enum class LaunchOutcome {
    Ran,          // the agent's shell ran and returned, whatever its status
    Interrupted,  // running it threw; reported "Failed to start the instal agent"
    NotStarted,   // no shell could run it; reported why in one sentence
};

// Completes command ("sh <launcher>") with -installbundle, the bundle path and
// the forwarded arguments (each one shell word), runs it and waits. A line
// longer than the shell can be handed, or a shell that cannot be started, is
// NotStarted; the agent's own exit status does not matter.
LaunchOutcome launchAgent(std::string& command, const std::string& workDir, int argc, char** argv,
                          ReportFn report);

// The longest command line that "sh -c" accepts as its one argument with the
// current environment, terminating NUL not counted.
std::size_t longestShellCommand();

}  // namespace setup
