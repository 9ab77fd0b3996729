// What an Android device's answers to a refresh say beyond the window's fields: the details
// shown on hover, and the system for the status text. Pure functions over the outputs of
// adb::command::RefreshSet.
#pragma once

#include "device_link/device_details.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <vector>

namespace adb {

// OUTPUTS by adb::command::Refresh; an empty one is a command that gave no answer.
DeviceDetails parseDetails(const std::vector<QByteArray>& outputs);

// The battery's health, where it was read, among the power panel's details.
void addBatteryCapacity(DeviceDetails& details,
                        const std::optional<device::BatteryCapacity>& capacity);

// The system's release ("14") and the model code ("lynx") from the processor command's output;
// empty where the device does not say.
struct SystemFacts {
    QString release;
    QString product;
    QString type; // "phone" or "tablet"
};
SystemFacts systemFacts(const QByteArray& processorOutput);

// "Android 14, model lynx" from the processor command's output; empty when it names neither.
QString systemText(const QByteArray& processorOutput);

} // namespace adb
