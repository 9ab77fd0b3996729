// What an Android device's refresh commands answer, query by query, for the link and for a
// report alike; and a read of one device, once, as a report makes it.
#pragma once

#include "device_link/adb/adb_parsers.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/adb/adb_transport.h"
#include "device_link/device_reading.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

namespace adb {

// Each from its command's whole output (see adb::command).
QString nameFrom(const QByteArray& output);
std::optional<device::ByteCounts> memoryFrom(const QByteArray& output);
std::optional<device::ByteCounts> storageFrom(const QByteArray& output);
qint32 processorFrom(const QByteArray& output);
std::optional<device::PowerStatus> powerFrom(const QByteArray& output);
qint32 mainsFrom(const QByteArray& output);
QSize screenFrom(const QByteArray& output);
QString addressFrom(const QByteArray& output);

// The devices the server lists; nullopt, with why in ERROR, when it does not answer.
std::optional<std::vector<Device>> listDevices(const ServerAddress& server, const Limits& limits,
                                               QString* error);

// Reads DEVICE once through SERVER: a refresh's commands, its address and, WITH_HEALTH, its
// battery's health, side by side, each within LIMITS. A command that gives no answer fails the
// reading.
DeviceReading readOnce(const ServerAddress& server, const Device& device, const Limits& limits,
                       bool withHealth = true);

// The battery of SERIAL alone, one command within LIMITS: its power and mains status, and the
// battery's facts among the details.
DeviceReading batteryOnce(const ServerAddress& server, const QString& serial, const Limits& limits);

} // namespace adb
