// Parsers for what Android devices print of their battery and mains power. Pure, as every
// parser of device output.
#pragma once

#include "device_link/device_facts.h"

#include <QStringView>

#include <optional>

namespace adb {

using device::PowerStatus;

// "dumpsys battery" plus the power-supply time_to_empty_now and time_to_full_now values.
std::optional<PowerStatus> parseBattery(QStringView dumpsys, QStringView timeToEmpty,
                                        QStringView timeToFull);

// The battery's health from "dumpsys batterystats": its "Last learned battery capacity" (what
// the fuel gauge last learned) over its "Estimated battery capacity" (the power profile's
// design figure); nothing where either is missing or unbelievable.
std::optional<device::BatteryCapacity> parseBatteryCapacity(QStringView batterystats);

// What flows into or out of the battery: the power supply's current_now (µA) and voltage_now
// (µV), else Samsung's "current now:" line (mA), signed by the status "dumpsys battery" gives;
// the charger's rating from its "Max charging current" (µA) and "Max charging voltage" (µV)
// while it is plugged in. The voltage is none where the power supply does not say it.
device::PowerFlow parsePowerFlow(QStringView dumpsys, QStringView currentNow,
                                 QStringView voltageNow);

// 1 when any "... powered: true" line, 0 when all such lines are false, 255 with none.
qint32 parseMainsStatus(QStringView dumpsys);

} // namespace adb
