#include "report/reading_values.h"

#include <charconv>
#include <cmath>

namespace report {
namespace {

// A power status's time in seconds; its "unknown" is none.
std::optional<qint64> seconds(double value) {
    if (value >= device::kUnknownTime || value < 0)
        return std::nullopt;
    return qint64(value);
}

} // namespace

BatteryValues batteryValues(const DeviceReading& r) {
    BatteryValues out;
    const BatteryFacts& facts = r.details.battery;
    if (const std::optional<device::PowerStatus>& p = r.power) {
        // The flag: 255 says nothing, 128 no battery, 8 charging.
        if (p->flag != 255)
            out.present = p->flag != 128;
        if (p->flag != 255 && p->flag != 128)
            out.charging = p->flag == 8;
        // A device without a battery has no charge, not an empty one.
        if (p->flag != 128 && p->percent >= 0 && p->percent <= 100)
            out.percent = p->percent;
        out.secondsLeft = seconds(p->lifeTime);
        out.secondsToFull = seconds(p->fullLifeTime);
    }
    if (r.mains != 255)
        out.onMains = r.mains == 1;
    out.health = facts.health;
    out.temperatureC = facts.temperatureC;
    out.voltageV = facts.voltageV;
    out.cycles = facts.cycles;
    out.capacity = facts.capacity;
    out.healthPercent = facts.capacity ? std::optional<double>(healthRatio(*facts.capacity) * 100)
                                       : facts.capacityPercent;
    out.level = facts.level;
    out.currentA = facts.currentA;
    out.powerW = facts.powerW;
    out.chargerW = facts.chargerW;
    return out;
}

double healthRatio(const device::BatteryCapacity& capacity) {
    return capacity.fullMah / capacity.designMah;
}

double hundredths(double value) {
    return std::round(value * 100) / 100;
}

QByteArray shortestNumber(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QByteArray(text, end - text);
}

} // namespace report
