// Entry point of the bootstrap installer: runs the installation and turns its
// outcome into the exit status (0, or 255 after "Installation failed."), or
// ends by the signal that interrupted it.
#include "interruption.hpp"
#include "report.hpp"
#include "run_installer.hpp"

int main(int argc, char** argv) {
    setup::prepareSignals();
    const int result = setup::runInstaller(argc, argv, setup::reportMessage);
    // A signal noted while the agent ran ends the installer now that the
    // run has cleaned up after itself.
    setup::stopIfInterrupted();
    if (result != 0) setup::reportMessage("Installation failed.", true);
    return result;
}
