// The installer's run sequence: workspace, payload, agent, launch, clean-up.
#pragma once

#include "report.hpp"

namespace setup {

// Returns 0 on success and -1 on failure, after reporting the cause.
int runInstaller(int argc, char** argv, ReportFn report);

}  // namespace setup
