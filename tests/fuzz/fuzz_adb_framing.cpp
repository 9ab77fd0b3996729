// The smart-socket framing as the link reads a server's stream: a status, then frames.
#include "device_link/adb/adb_protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView buffer(reinterpret_cast<const char*>(data), qsizetype(size));
    const adb::Status status = adb::decodeStatus(buffer);
    if (status.status == adb::Decode::Complete && status.consumed > buffer.size())
        __builtin_trap();
    QByteArrayView rest =
        buffer.sliced(status.status == adb::Decode::Complete ? status.consumed : 0);
    for (;;) {
        const adb::Payload payload = adb::decodeLengthPrefixed(rest);
        if (payload.status != adb::Decode::Complete)
            break;
        if (payload.consumed < 4 || payload.consumed > rest.size() ||
            payload.data.size() != payload.consumed - 4)
            __builtin_trap();
        rest = rest.sliced(payload.consumed);
    }
    adb::parseSocketSpec(QString::fromUtf8(buffer));
    adb::encodeRequest(buffer);
    return 0;
}
