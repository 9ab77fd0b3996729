// What UPower says of a device (the properties of org.freedesktop.UPower.Device) in the terms
// of a reading: pure functions, fed with the property sets UPower gives for headsets, mice,
// keyboards, controllers and UPSes. UPower's strings are a device's own, and untrusted: shown
// as plain text, and an absurd number is no number.
#pragma once

#include "device_link/device_reading.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <vector>

namespace upower {

// UPower's word for a device type: "headset", "mouse", "ups", "gaming-input"; "unknown" for a
// number it does not name.
QString typeWord(uint type);

// Whether the device at PATH is attached to this computer, rather than its own power: not the
// display device, not line power, not one of the computer's own batteries. A UPS powers it
// from outside, and is attached.
bool isAttached(const QString& path, const QVariantMap& properties);

// Its serial number, else its native path (a Bluetooth device's address is in it), else PATH:
// the same device each time it comes back.
QString serial(const QString& path, const QVariantMap& properties);

// A device attached, by the key it is known by, its object path and its properties.
struct Attached {
    QString serial;
    QString path;
    QVariantMap properties;
};

// Every device of DEVICES (by object path) that is attached, in their order, each by its serial
// number where no other gives the same, else by its object path: two mice that both say "0000"
// stay two. One whose serial is among OTHERS (an iPhone another kind shows) is left out.
std::vector<Attached> attached(const QMap<QString, QVariantMap>& devices,
                               const QSet<QString>& others);

// Its model, as it gives it; empty where it gives none.
QString model(const QVariantMap& properties);

// Its model, else its vendor and its type's word ("Logitech mouse"), else the type's word.
QString name(const QVariantMap& properties);

// What a person calls it, for the Device menu: "Headset", "Mouse", "UPS".
QString label(const QVariantMap& properties);

// The coarse level of a device that gives no percentage: "low", "critical", "normal", "high",
// "full"; empty where it gives a percentage (UPower then says "none").
QString levelWord(const QVariantMap& properties);

// One reading of the device at PATH, as the window, a report and the metrics take it.
DeviceReading reading(const QString& path, const QVariantMap& properties);

} // namespace upower
