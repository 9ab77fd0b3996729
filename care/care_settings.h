// The notifications a user asked for, kept in $XDG_CONFIG_HOME/device-info/device-info.conf
// (INI, group [notifications]): chargedPercent, lowPercent, hotCelsius, intervalSeconds and
// drainingOnMains (1: on). A key that is absent, or 0, is off; intervalSeconds absent is 60.
// Values out of range are held to it. Beside them, [panel] show=1: every battery in the panel.
#pragma once

#include "display/battery_care.h"

#include <QString>

namespace care {

// Where the settings are kept.
QString careSettingsPath();

// Whether PATH may be opened as a settings file: absent, or a regular file (through a link). A
// FIFO or a device in its place would be waited on forever.
bool settingsFileUsable(const QString& path);

struct CareSettings {
    Limits limits;
    bool panel = false; // every battery shown in the panel
    QString problem;    // one line on what could not be read, whose defaults stand; empty: none
    // Whether the watcher reads: for a notice, or for the panel.
    bool reads() const { return limits.any() || panel; }
    bool sameChoices(const CareSettings& other) const {
        return limits == other.limits && panel == other.panel;
    }
};

// The settings at PATH; a file that is unreadable, or a value that is not a number, gives the
// defaults for what it held, and says so.
CareSettings readCareSettings(const QString& path);

// Writes LIMITS to PATH; one line on why where it cannot, else empty.
QString writeCareSettings(const QString& path, const Limits& limits);
// Writes whether the panel shows every battery, likewise.
QString writePanelSetting(const QString& path, bool show);

} // namespace care
