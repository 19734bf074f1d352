#include "temp_workspace.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "constants.hpp"
#include "file_utils.hpp"
#include "shell_utils.hpp"

namespace setup {

TempWorkspace::TempWorkspace(const std::string& parent) {
    std::string name = parent + kPathSeparator + "zqXXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
        error = errno;
        return;
    }
    path = name;
    removedIfInterrupted_.emplace(path);
}

TempWorkspace::~TempWorkspace() {
    if (path.empty()) return;
    runShellCommand(removeCommand(path));
}

}  // namespace setup
