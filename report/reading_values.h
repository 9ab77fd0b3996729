// What a reading says, as values a script or a monitoring system takes: each one where the
// device gave it, nothing where it did not. The JSON report and the metrics both say what these
// say, so that a value means the same in both.
#pragma once

#include "device_link/device_reading.h"

#include <QByteArray>

#include <optional>

namespace report {

struct BatteryValues {
    std::optional<bool> present;
    std::optional<bool> charging; // never for a device without a battery
    std::optional<bool> onMains;
    std::optional<double> percent;       // 0 to 100; none without a battery
    std::optional<qint64> secondsLeft;   // until empty
    std::optional<qint64> secondsToFull; // until full
    QString health;                      // "Good", "Cold"; empty where it does not say
    std::optional<double> temperatureC;
    std::optional<double> voltageV;
    std::optional<qint64> cycles;
    std::optional<device::BatteryCapacity> capacity;
    // The maximum capacity in percent of its design: from CAPACITY, or as the device says it.
    std::optional<double> healthPercent;
    QString level; // a coarse level where no percentage is given: "low", "normal", "full"
    // Positive into the battery, negative out of it.
    std::optional<double> currentA;
    std::optional<double> powerW;
    std::optional<double> chargerW; // what the charger can give
};

BatteryValues batteryValues(const DeviceReading& reading);

// The share of the capacity left at full charge, from 0 to 1: the window's "Maximum capacity".
double healthRatio(const device::BatteryCapacity& capacity);

// VALUE to a hundredth, as the reports give percentages.
double hundredths(double value);

// The shortest text that reads back as VALUE: "4.012", "8156930048".
QByteArray shortestNumber(double value);

} // namespace report
