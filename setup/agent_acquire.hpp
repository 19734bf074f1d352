// Delivers a runnable install agent: from the payload, from the per-user
// cache when the server confirms it is current, or freshly downloaded.
#pragma once

#include <string>

#include "report.hpp"

namespace setup {

// Returns the path of the agent's launcher, or "" after reporting why not.
std::string acquireAgent(const std::string& workspace, ReportFn report);

// The payload-supplied agent archive in the workspace: InstallAgent.zip, else
// the first "InstallAgent_*.zip" in listing order, else "".
std::string payloadAgentArchive(const std::string& workspace);

}  // namespace setup
