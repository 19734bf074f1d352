// Delivers a runnable install agent: from the payload, from the per-user
// cache when the server confirms it is current, or freshly downloaded.
#pragma once

#include <string>

#include "cache_lock.hpp"
#include "report.hpp"

namespace setup {

// Returns the agent to run: its launcher path, or "" after reporting why not.
// A cached agent comes with the in-use lock that keeps it in place; keep the
// result alive until the agent has returned. Overlapping runs of one user
// take turns on the cache's lock while they obtain their agent.
AcquiredAgent acquireAgent(const std::string& workspace, ReportFn report);

// The payload-supplied agent archive in the workspace: InstallAgent.zip, else
// the first "InstallAgent_*.zip" in listing order, else "".
std::string payloadAgentArchive(const std::string& workspace);

}  // namespace setup
