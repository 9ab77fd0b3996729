// Work on a thread of its own that nobody joins: a device's read that may outlast whoever asked
// for it, a session's goodbye. It is counted while it runs, so that the program can let it end
// before its exit destroys what the work still uses.
#pragma once

#include <chrono>
#include <functional>

namespace device {

// Runs WORK on a thread of its own, counted until it returns; false where no thread can be
// had (WORK then never runs).
bool runInBackground(std::function<void()> work);

// Counts as background work for as long as it lives: for work whose thread starts later.
class BackgroundWork {
public:
    BackgroundWork();
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
};

// Waits at most WITHIN for every piece of background work to end; whether all did. A program
// calls it before it ends, and ends at once where it returns false.
bool finishBackgroundWork(std::chrono::milliseconds within);

} // namespace device
