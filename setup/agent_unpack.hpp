// Unpacks an install agent archive into a directory with the external unzip.
#pragma once

#include <string>

#include "report.hpp"

namespace setup {

// Runs "<unzip> -qq -o <archive> -d <destination>" with its output
// discarded. Returns false without a
// message when the archive is missing or the command cannot be handed to the
// shell, and reports "Failed to unzip the install agent" when unzip fails.
bool unpackAgent(const std::string& archive, const std::string& destination,
                 const std::string& unzipProgram, ReportFn report);

}  // namespace setup
