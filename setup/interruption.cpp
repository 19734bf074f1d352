#include "interruption.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "file_utils.hpp"

namespace setup {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t gNoted = 0;
bool gNotingSigint = false;

std::vector<std::string>& removals() {
    static std::vector<std::string> paths;
    return paths;
}

extern "C" void noteSignal(int signal) {
    if (gNoted == 0) gNoted = signal;
}

void setDisposition(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted calls carry on; the run looks at the note at its next
    // safe point, so no library sees a surprise EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void prepareSignals() {
    setDisposition(SIGCHLD, SIG_DFL);
    for (const int signal : kInterrupts) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        setDisposition(signal, noteSignal);
        if (signal == SIGINT) gNotingSigint = true;
    }
}

void stopIfInterrupted() {
    const int signal = gNoted;
    if (signal == 0) return;
    // Nothing more is noted: the run ends by the first signal.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int each : kInterrupts) sigaddset(&interrupts, each);
    sigprocmask(SIG_BLOCK, &interrupts, nullptr);
    for (const std::string& path : removals()) std::system(removeCommand(path).c_str());
    setDisposition(signal, SIG_DFL);
    std::raise(signal);  // held until unblocked just below
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signal);  // not reached: the default action ends the process
}

void noteInterruptedCommand(int waitStatus) {
    if (!gNotingSigint || waitStatus == -1) return;
    if (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGINT) noteSignal(SIGINT);
}

RemovedIfInterrupted::RemovedIfInterrupted(const std::string& path) : path_(path) {
    removals().push_back(path_);
}

RemovedIfInterrupted::~RemovedIfInterrupted() {
    std::vector<std::string>& paths = removals();
    const auto found = std::find(paths.rbegin(), paths.rend(), path_);
    if (found != paths.rend()) paths.erase(std::next(found).base());
}

}  // namespace setup
