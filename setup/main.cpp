// Entry point of the bootstrap installer: runs the installation and turns its
// outcome into the exit status (0, or 255 after "Installation failed.").
#include "report.hpp"
#include "run_installer.hpp"

int main(int argc, char** argv) {
    const int result = setup::runInstaller(argc, argv, setup::reportMessage);
    if (result != 0) setup::reportMessage("Installation failed.", true);
    return result;
}
