// Both ends of the bundle's life in the installer: unpacking the payload out
// of the installer's own file, and starting the agent on the bundle.
#pragma once

#include <string>

#include "report.hpp"

namespace setup {

inline constexpr int kPayloadFailure = 201;

// Unpacks the ZIP archive appended to this program's file into workDir.
// Returns 0, or 201 when unzip could not run, failed, or left no bundle.zip.
int extractPayload(const std::string& workDir);

// extractPayload for an explicit installer file.
int extractPayloadFrom(const std::string& installerFile, const std::string& workDir);

// Completes command ("sh <launcher>") with -installbundle, the bundle path and
// the forwarded arguments (each one shell word), runs it and waits. Returns
// false, after reporting, only when running it threw.
bool launchAgent(std::string& command, const std::string& workDir, int argc, char** argv,
                 ReportFn report);

}  // namespace setup
