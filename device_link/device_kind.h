// The two kinds of device: Android, read through the adb server, and Apple's iPhones and iPads,
// read through usbmuxd. Scripts, metrics and the history know them by one word each.
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

enum class DeviceKind { Android, Apple };

// "android" or "ios": what --list, the JSON, the metrics and the history file say.
QString kindName(DeviceKind kind);
// The kind a word names; none for any other word.
std::optional<DeviceKind> kindFromName(QStringView word);
