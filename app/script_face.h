// The program for scripts: --list and --report, data on standard output and words on standard
// error, with no window. Both kinds of device are asked side by side, each within its deadline.
#pragma once

#include "device_link/survey.h"

#include <QString>

namespace app {

struct CommandLine;

// A --list line: tab-separated, control characters shown as escapes.
QString listLine(const survey::ListedDevice& device);

// Runs --list or --report and returns the exit status: 0 when everything asked for was read,
// 1 when something was not, with why on standard error.
int runScript(const CommandLine& command);

} // namespace app
