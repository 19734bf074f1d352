// The installer's signal dispositions: SIGCHLD as system() needs it, and
// SIGINT, SIGTERM and SIGHUP noted by a handler and acted on at a safe point.
#pragma once

#include <string>

namespace setup {

// Called first thing: SIGCHLD back to its default, since an inherited
// "ignore" makes every system() call fail; SIGINT, SIGTERM and SIGHUP noted
// from now on, except those the caller had ignored (they stay ignored).
void prepareSignals();

// A safe point: no child of the installer is running. When a signal was
// noted, removes every path registered below and ends the process by that
// signal (its default action), so the caller sees what happened. Otherwise
// returns at once, errno unchanged.
void stopIfInterrupted();

// Judges the wait status of one of the installer's own commands: a command
// ended by SIGINT was hit by the terminal's Ctrl-C, which system() kept from
// this process, so it counts as SIGINT noted here (when SIGINT is noted at all).
void noteInterruptedCommand(int waitStatus);

// Registers path for removal by stopIfInterrupted until the object is gone.
class RemovedIfInterrupted {
public:
    explicit RemovedIfInterrupted(const std::string& path);
    ~RemovedIfInterrupted();
    RemovedIfInterrupted(const RemovedIfInterrupted&) = delete;
    RemovedIfInterrupted& operator=(const RemovedIfInterrupted&) = delete;

private:
    std::string path_;
};

}  // namespace setup
