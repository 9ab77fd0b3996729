// Work on a thread of its own that nobody joins: a device's read that may outlast whoever asked
// for it, a session's goodbye. It is counted while it runs, so that the program can let it end
// before its exit destroys what the work still uses.
#pragma once

#include <chrono>
#include <functional>

namespace device {

// Runs WORK on a thread of its own, behind the caller's in priority (nice 5), counted until it
// returns; false where no thread can be had (WORK then never runs).
bool runInBackground(std::function<void()> work);

// Counts as background work for as long as it lives: for work whose thread starts later.
class BackgroundWork {
public:
    BackgroundWork();
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
};

// How a program ends with STATUS: once its background work and the work on Qt's thread pool
// have ended, within WITHIN, while its application object, which their sockets need, still
// stands. Where either takes longer, the program ends at once, so that nothing still in use is
// destroyed beneath it.
int endProgram(int status, std::chrono::milliseconds within);

// SIGTERM and SIGINT end the application's event loop, from outside the handler; false where
// they cannot be caught.
bool quitOnSignals();

} // namespace device
