// One reading of a battery's wear, as the history keeps it: when, which device, and what its
// battery said then. Each value is empty where the device did not give it.
#pragma once

#include "device_link/device_kind.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace history {

struct Record {
    QDateTime time; // UTC
    QString serial; // an adb serial or an Apple UDID
    DeviceKind kind = DeviceKind::Android;
    QString name;
    QString model;
    std::optional<double> fullMah;
    std::optional<double> designMah;
    std::optional<qint64> cycles;
    std::optional<double> temperatureC;
    std::optional<double> percent;     // charge
    std::optional<double> powerW = {}; // into the battery, negative out of it
    bool operator==(const Record&) const = default;

    // Full over design, in percent; empty where either is missing.
    std::optional<double> capacityPercent() const {
        if (!fullMah || !designMah || *designMah <= 0)
            return std::nullopt;
        return *fullMah * 100 / *designMah;
    }
};

// A device the history holds records of.
struct Device {
    QString serial;
    DeviceKind kind = DeviceKind::Android;
    QString name;
    QString model;
    int records = 0;
    bool operator==(const Device&) const = default;
};

} // namespace history
