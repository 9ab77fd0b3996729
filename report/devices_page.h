// A computer's devices for a lab's technician: /devices.json, and the page that shows it as one
// table, worst first. The page's rows are made here from the same JSON its script takes, so that
// a browser without JavaScript shows what one with it shows; a device's strings are escaped,
// never markup.
#pragma once

#include "device_link/device_watch.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <vector>

namespace report {

// The thresholds of the shipped alerting rules (DeviceBatteryHot, DeviceBatteryWorn).
inline constexpr double kHotCelsius = 45;
inline constexpr double kWornPercent = 80;

// One device of the last round: a ready one that was read as --report --json gives it; one that
// is not ready, or not read, with its serial, kind, name where known, what to do in status, and
// null for everything that could not be read. Both with "state", "model" and "readAt" (the end
// of its last good read, ISO 8601 UTC, or null).
QJsonObject watchedJson(const WatchedDevice& device);
QJsonArray devicesJson(const std::vector<WatchedDevice>& devices);

// The page's HTML with DEVICES' table in it; the script polls every INTERVAL_SECONDS.
QByteArray devicesPage(const QJsonArray& devices, int intervalSeconds);

} // namespace report
