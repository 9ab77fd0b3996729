// device-info --care: battery care with no window, for every device, until SIGTERM, SIGINT or a
// Quit over the session bus (how Notifications... ends it).
#pragma once

namespace cli {

// Runs until told to end, then returns 0; 1 where SIGTERM cannot be caught. A second watcher in
// the same session says so and returns 0.
int runCare();

} // namespace cli
