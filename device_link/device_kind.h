// The kinds of device: Android, read through the adb server; Apple's iPhones and iPads, read
// through usbmuxd; and the batteries the desktop knows through UPower (headsets, mice,
// keyboards, controllers, UPSes). Scripts, metrics and the history know them by one word each.
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

enum class DeviceKind { Android, Apple, UPower };

// "android", "ios" or "upower": what --list, the JSON, the metrics and the history file say.
QString kindName(DeviceKind kind);
// The kind a word names; none for any other word.
std::optional<DeviceKind> kindFromName(QStringView word);
