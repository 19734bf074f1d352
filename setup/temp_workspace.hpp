// The private directory one installer run works in: made fresh with mode 0700
// and removed on every way out of the run, an interruption included.
#pragma once

#include <optional>
#include <string>

#include "interruption.hpp"

namespace setup {

class TempWorkspace {
public:
    // Makes parent + "/zqXXXXXX" with mkdtemp (mode 0700).
    explicit TempWorkspace(const std::string& parent);
    ~TempWorkspace();

    TempWorkspace(const TempWorkspace&) = delete;
    TempWorkspace& operator=(const TempWorkspace&) = delete;

    // The created directory, or "" when it could not be made.
    std::string path;
    // Why it could not be made (mkdtemp's errno), or 0.
    int error = 0;

private:
    std::optional<RemovedIfInterrupted> removedIfInterrupted_;
};

}  // namespace setup
