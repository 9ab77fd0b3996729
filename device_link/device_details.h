// What a device said beyond what the window's fields show: a few lines for each panel, shown on
// hover and copied with the window's report. Plain text; device strings in it are as the device
// gave them, made printable.
#pragma once

#include "device_link/device_facts.h"

#include <QMetaType>
#include <QStringList>

#include <optional>

// The battery's and the processor's details as values, for a script: the same readings the
// lines say, never read twice.
struct BatteryFacts {
    QString health; // "Good", "Overheat"; empty where the device does not say
    std::optional<double> temperatureC;
    std::optional<double> voltageV;
    std::optional<qint64> cycles;
    std::optional<device::BatteryCapacity> capacity;
    std::optional<double> percent; // charge, 0 to 100; none without a battery
    // The maximum capacity in percent of its design, where only that is known (UPower's
    // Capacity); with capacity, none.
    std::optional<double> capacityPercent = {};
    QString level = {}; // a coarse level in place of a percentage: "low", "full"; else empty
    // What flows, positive into the battery, and what the charger can give; none where unknown.
    std::optional<double> currentA = {};
    std::optional<double> powerW = {};
    std::optional<double> chargerW = {};
    bool operator==(const BatteryFacts&) const = default;
};

struct ProcessorFacts {
    QStringList abis; // "arm64-v8a", or an iPhone's "arm64e"
    QString systemOnChip;
    int cores = 0; // 0: not said
    bool operator==(const ProcessorFacts&) const = default;
};

// What the device runs and what it is, as the status says them.
struct SystemFacts {
    QString osVersion; // "14", "17.5"
    QString model;     // its model code: "lynx", "iPhone15,2"
    QString type = {}; // "phone", "tablet", or UPower's word: "headset", "mouse", "ups"
    bool operator==(const SystemFacts&) const = default;
};

struct DeviceDetails {
    QStringList processor;
    QStringList power;
    QStringList memory;
    QStringList storage;
    QStringList screen;
    BatteryFacts battery;
    ProcessorFacts cpu;
    SystemFacts system;

    bool isEmpty() const {
        return processor.isEmpty() && power.isEmpty() && memory.isEmpty() && storage.isEmpty() &&
               screen.isEmpty();
    }
    bool operator==(const DeviceDetails&) const = default;
};

// Puts FLOW, completed, into the battery's facts and its words into the power details.
void addPowerFlow(DeviceDetails& details, const device::PowerFlow& flow, bool onMains);

Q_DECLARE_METATYPE(DeviceDetails)
