// What an iPhone answers, as lockdownd's plist (XML or binary) taken apart by libplist, then
// turned into Qt values and into the window's values.
#include "device_link/ios/ios_values.h"
#include "device_link/ios/lockdown_session.h"

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plist_t node = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data), uint32_t(size), &node);
    if (!node)
        return 0;
    const QVariantMap map = ios::toVariant(node).toMap();
    plist_free(node);
    ios::deviceName(map);
    ios::storage(map);
    ios::power(map, map);
    ios::mainsStatus(map);
    ios::screenSize(map);
    ios::processorCode(map);
    ios::batteryCapacity(map);
    return 0;
}
