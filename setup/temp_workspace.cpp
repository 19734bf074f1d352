#include "temp_workspace.hpp"

#include <cstdlib>
#include <string>

#include "shell_utils.hpp"

namespace setup {

TempWorkspace::TempWorkspace(const std::string& /*label*/) {
    // /tmp is fixed on purpose: TMPDIR is not consulted.
    char name[] = "/tmp/zqXXXXXX";
    if (mkdtemp(name) != nullptr) path = name;
}

TempWorkspace::~TempWorkspace() {
    if (path.empty()) return;
    // mkdtemp adds only letters and digits to a plain template, so the path
    // needs no quoting.
    runShellCommand("rm -rf " + path);
}

}  // namespace setup
