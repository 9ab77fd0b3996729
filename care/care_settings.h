// The notifications a user asked for, kept in $XDG_CONFIG_HOME/device-info/device-info.conf
// (INI, group [notifications]): chargedPercent, lowPercent, hotCelsius, intervalSeconds and
// drainingOnMains (1: on). A key that is absent, or 0, is off; intervalSeconds absent is 60.
// Values out of range are held to it.
#pragma once

#include "display/battery_care.h"

#include <QString>

namespace care {

// Where the settings are kept.
QString careSettingsPath();

struct CareSettings {
    Limits limits;
    QString problem; // one line on what could not be read, whose defaults stand; empty: none
};

// The settings at PATH; a file that is unreadable, or a value that is not a number, gives the
// defaults for what it held, and says so.
CareSettings readCareSettings(const QString& path);

// Writes LIMITS to PATH; one line on why where it cannot, else empty.
QString writeCareSettings(const QString& path, const Limits& limits);

} // namespace care
