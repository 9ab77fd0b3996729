// The program for a lab: --serve, an exporter that Prometheus scrapes. It watches every device
// of either kind, and serves the last readings as metrics until SIGTERM or SIGINT.
#pragma once

namespace app {

struct CommandLine;

// Runs until SIGTERM or SIGINT, then returns 0; 1 where it cannot listen.
int runServe(const CommandLine& command);

} // namespace app
