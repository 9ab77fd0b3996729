// A link with no device behind it: it raises no events and every query fails.
#pragma once

#include "device_link/pelorin.h"

class NoDeviceLink final : public Pelorin {
    Q_OBJECT
public:
    using Pelorin::Pelorin;

    DeviceValue GetMemoryStatus(DeviceValue&, DeviceValue&) override { fail(); }
    DeviceValue GetStorageStatus(DeviceValue&, DeviceValue&) override { fail(); }
    DeviceValue ProcessorType() override { fail(); }
    DeviceValue GetPowerStatus(DeviceValue&, DeviceValue&, DeviceValue&, DeviceValue&) override {
        fail();
    }
    DeviceValue ACLineStatus() override { fail(); }
    DeviceValue GetSystemMetric(qint32) override { fail(); }
    DeviceValue ReadRegistryValue(qint32, const QString&, const QString&) override { fail(); }

private:
    [[noreturn]] static void fail() { throw DeviceLinkError("No device is connected."); }
};
