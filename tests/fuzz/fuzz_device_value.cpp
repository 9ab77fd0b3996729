// Device value conversions and the texts made from numbers: as a string, and as a double
// taken from the input's first eight bytes.
#include "device_link/device_value.h"
#include "display/form1.h"
#include "display/text_format.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

template <typename F> void tolerate(F&& f) {
    try {
        f();
    } catch (const DeviceValueError&) {
        // Conversions are allowed to refuse; they must not crash.
    }
}

void exercise(const DeviceValue& value) {
    tolerate([&] { value.toDouble(); });
    tolerate([&] { value.toInt32(); });
    tolerate([&] { value.toBool(); });
    tolerate([&] { value.toString(); });
    tolerate([&] { Form1::FormatTimeString(value); });
    (void)(value == QString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    exercise(DeviceValue(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size))));
    if (size >= sizeof(double)) {
        double number;
        std::memcpy(&number, data, sizeof number);
        exercise(DeviceValue(number));
        display::groupedWholeNumber(number);
        std::int64_t whole;
        std::memcpy(&whole, data, sizeof whole);
        display::numberToText(whole);
    }
    return 0;
}
