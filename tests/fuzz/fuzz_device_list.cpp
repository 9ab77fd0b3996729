// The device lists a server sends on track-devices-l and devices-l.
#include "device_link/adb/adb_parsers.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const adb::Device& device : adb::parseDeviceList(text)) {
        if (device.serial.isEmpty() || device.state.isEmpty())
            __builtin_trap();
    }
    return 0;
}
