// The private directory one installer run works in: created under /tmp with
// mode 0700 and removed on every way out of the run.
#pragma once

#include <string>

namespace setup {

class TempWorkspace {
public:
    // The label names the workspace's purpose; it does not shape the path.
    explicit TempWorkspace(const std::string& label);
    ~TempWorkspace();

    TempWorkspace(const TempWorkspace&) = delete;
    TempWorkspace& operator=(const TempWorkspace&) = delete;

    // The created directory, or "" when it could not be made.
    std::string path;
};

}  // namespace setup
