// One read of one device, once, in the terms of the window's queries: what a report of it
// prints. Each kind's reader fills it from the same commands or domains its link reads for a
// refresh.
#pragma once

#include "device_link/device_details.h"
#include "device_link/device_facts.h"
#include "device_link/device_kind.h"

#include <QSize>
#include <QString>

#include <optional>

struct DeviceReading {
    QString serial;
    DeviceKind kind = DeviceKind::Android;
    QString error; // why it could not be read; empty when it was
    QString name;  // empty: the device names none
    std::optional<device::ByteCounts> memory;
    std::optional<device::ByteCounts> storage;
    qint32 processorCode = 0;
    std::optional<device::PowerStatus> power;
    qint32 mains = 255; // 1 on mains, 0 not, 255 unknown
    QSize screen;       // invalid: unknown
    QString address;    // empty: none
    DeviceDetails details;
    QString status; // what the light's tooltip would say of it
    // An Android device's: "usb" or "wifi", and where it is connected over Wi-Fi.
    QString transport = {};
    QString wifiAddress = {};
    bool operator==(const DeviceReading&) const = default;
};
