// Unpacks an install agent archive into a directory with the external unzip
// and checks that what came out can be run.
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

// Unpacks the archive into directory with unzip and checks that it brought a
// usable launcher; otherwise reports "Failed to initialize the install
// agent." (after unpackAgent's own sentence, if any) and returns false.
bool unpackRunnableAgent(const std::string& archive, const std::string& directory, ReportFn report);

}  // namespace setup
