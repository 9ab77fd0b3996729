// A reading as --report --json prints it, and a listed device as --list --json does: numbers as
// numbers, null for what is unknown.
#pragma once

#include "device_link/device_reading.h"
#include "device_link/survey.h"

#include <QJsonObject>

namespace report {

// The version of the report's JSON; raised only when a field changes meaning or goes.
inline constexpr int kReportSchema = 1;

QJsonObject readingJson(const DeviceReading& reading);
QJsonObject listedJson(const survey::ListedDevice& device);

} // namespace report
