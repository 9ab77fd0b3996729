// The simulator's transport decoder and shell, fed what a host might send.
#include "tools/device_sim/adb_message.h"
#include "tools/device_sim/device_profile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView rest(reinterpret_cast<const char*>(data), qsizetype(size));
    for (;;) {
        const sim::Decoded decoded = sim::decodeMessage(rest, 4096);
        if (decoded.status != sim::Decode::Complete)
            break;
        if (decoded.consumed > rest.size() || decoded.message.data.size() > 4096)
            __builtin_trap();
        rest = rest.sliced(decoded.consumed);
    }
    static const sim::DeviceProfile profile = [] {
        sim::DeviceProfile p;
        p.model = QStringLiteral("Fuzz");
        p.address = QStringLiteral("10.0.0.1");
        p.physicalSize = QStringLiteral("1080x2400");
        return p;
    }();
    sim::runShell(profile, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
