// Every parser of a device's command output; the first byte picks the parser.
#include "device_link/adb/adb_parsers.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const QStringList parts = adb::splitSections(text, 3);
    auto check = [](const std::optional<adb::ByteCounts>& counts) {
        if (counts && (!std::isfinite(counts->total) || counts->total < 0 ||
                       !std::isfinite(counts->remaining) || counts->remaining < 0))
            __builtin_trap();
    };
    switch (data[0] % 11) {
    case 0:
        check(adb::parseMeminfo(text));
        break;
    case 1:
        check(adb::parseStatFs(text));
        break;
    case 2:
        check(adb::parseDfK(text));
        break;
    case 3:
        if (const auto power = adb::parseBattery(parts[0], parts[1], parts[2]);
            power && !std::isfinite(power->percent))
            __builtin_trap();
        break;
    case 4:
        adb::parseMainsStatus(text);
        break;
    case 5:
        if (const QSize s = adb::parseWmSize(text);
            s.isValid() && (s.width() < 0 || s.height() < 0))
            __builtin_trap();
        break;
    case 6:
        adb::parseDeviceName(parts[0], parts[1]);
        break;
    case 7:
        adb::parseIpv4Address(parts[0], parts[1]);
        break;
    case 8:
        adb::processorCode(parts[0], parts[1]);
        break;
    case 9:
        adb::networkSerialHost(text);
        break;
    case 10:
        // A capacity is shown only within its bounds.
        if (const auto capacity = adb::parseBatteryCapacity(text);
            capacity && !(capacity->designMah >= 300 && capacity->designMah <= 50000 &&
                          capacity->fullMah >= 0.2 * capacity->designMah &&
                          capacity->fullMah <= 1.3 * capacity->designMah))
            __builtin_trap();
        break;
    }
    return 0;
}
