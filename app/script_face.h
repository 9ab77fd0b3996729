// The program for scripts: --list and --report, data on standard output and words on standard
// error, with no window. Both kinds of device are asked side by side, each within its deadline.
#pragma once

#include "device_link/device_reading.h"

#include <QJsonObject>
#include <QString>

namespace app {

struct CommandLine;

// One device as --list prints it.
struct ListedDevice {
    QString serial;
    QString kind;  // "android" or "ios"
    QString state; // "ready", "unauthorized", "offline", "trust", "locked", ...
    QString name;  // empty where none can be read yet
};

// The version of the JSON that --report --json prints; raised only when a field changes meaning
// or goes.
inline constexpr int kReportSchema = 1;

// A reading as --report --json prints it: numbers as numbers, null for what is unknown.
QJsonObject readingJson(const DeviceReading& reading);
QJsonObject listedJson(const ListedDevice& device);

// A --list line: tab-separated, control characters shown as escapes.
QString listLine(const ListedDevice& device);

// Runs --list or --report and returns the exit status: 0 when everything asked for was read,
// 1 when something was not, with why on standard error.
int runScript(const CommandLine& command);

} // namespace app
