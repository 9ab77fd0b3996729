// The devices a watch holds as Prometheus' text exposition format (version 0.0.4): one family a
// reading, in base units (bytes, seconds, volts, degrees Celsius, ampere-hours, ratios from 0 to
// 1), each device's series labelled with its serial and kind. What a device does not give has no
// series at all.
#pragma once

#include "device_link/device_watch.h"

#include <QByteArray>

#include <vector>

namespace report {

// The content type of what exposition() writes.
inline constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";

QByteArray exposition(const std::vector<WatchedDevice>& devices);

// The exporter's own build, as exporters publish theirs: one series at 1, VERSION and
// QT_VERSION its labels.
QByteArray buildInfo(const QString& version, const QString& qtVersion);

// Each Wi-Fi address the exporter keeps connected, by its address: 1 while it is connected, 0
// while it cannot be reached (its device's serial number is not known then).
QByteArray wifiConnected(const std::vector<std::pair<QString, bool>>& addresses);

// VALUE as a label value: a backslash, a double quote and a line feed escaped, and cut to a
// sensible length.
QByteArray labelValue(const QString& value);

} // namespace report
