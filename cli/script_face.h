// The program for scripts: --list, --report and --history, data on standard output and words on
// standard error, with no window. Both kinds of device are asked side by side, each within its
// deadline.
#pragma once

#include "device_link/survey.h"

#include <QString>

namespace cli {

// What a script asked for.
struct ScriptRequest {
    bool list = false;   // --list; else --report
    QString serial;      // --serial: an adb serial or an Apple UDID; empty: none chosen
    bool json = false;   // --json: data as JSON
    bool all = false;    // --all: every ready device
    int waitSeconds = 0; // --wait: how long to wait for the devices asked for
};

// A --list line: tab-separated, control characters shown as escapes.
QString listLine(const survey::ListedDevice& device);

// Runs --list or --report and returns the exit status: 0 when everything asked for was read,
// 1 when something was not, with why on standard error.
int runScript(const ScriptRequest& command);

// Prints the battery history's records, oldest first (SERIAL's only, where given), and returns
// the exit status: 0, even with none; 1 when the history cannot be read, with why on standard
// error.
int runHistory(const QString& serial, bool json);

} // namespace cli
