// Parsers for who a device is: the adb server's device list, the device's name and its
// processor. Pure, as every parser of device output.
#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace adb {

struct Device {
    QString serial;
    QString state;    // "device", "offline", "unauthorized", "no permissions", ...
    QString model;    // from "model:", underscores back to blanks; empty in the short form
    bool usb = false; // the long form names a USB port ("usb:1-1")
    bool operator==(const Device&) const = default;
};

// "host:devices" and "host:devices-l" lists, one device a line.
std::vector<Device> parseDeviceList(QStringView text);

// The processor type code for an ABI ("arm64-v8a") or, failing that, a machine name
// ("aarch64"). The x86 family gives 586; other processors give codes that name no processor
// the window knows; nothing known gives 0.
qint32 processorCode(QStringView abi, QStringView machine);

// "settings get global device_name" then "getprop ro.product.model"; empty when neither names
// the device.
QString parseDeviceName(QStringView settingsOutput, QStringView modelOutput);

} // namespace adb
