#include "display/battery_care.h"

#include <cmath>

namespace care {
namespace {

// Between two of a kind for one device, whatever the readings do.
constexpr qint64 kQuietSeconds = 10 * 60;
// How far a condition must end before it is armed again: a level that hovers around the limit,
// a temperature that flickers around the threshold, say nothing more.
constexpr double kLevelBack = 5;
constexpr double kCooler = 3;

QString degrees(double celsius) {
    return QString::number(std::round(celsius * 10) / 10);
}

} // namespace

QString level(double percent) {
    return QString::number(std::floor(percent));
}

std::vector<Notice> Rules::step(const Limits& limits, const Reading& r) {
    std::array<Armed, kKinds>& state = m_devices[r.serial];
    std::vector<Notice> out;
    const QString name = r.name.isEmpty() ? r.serial : r.name;
    // Armed again when ENDED; fires when HOLDS, armed and quiet long enough.
    const auto rule = [&](Kind kind, bool holds, bool ended, const QString& text) {
        Armed& a = state[std::size_t(kind)];
        if (ended)
            a.armed = true;
        if (!holds || !a.armed || (a.last.isValid() && a.last.secsTo(r.time) < kQuietSeconds))
            return;
        a.armed = false;
        a.last = r.time;
        a.text = text;
        out.push_back({kind, r.serial, text});
    };
    if (limits.chargedPercent > 0 && r.percent) {
        const double limit = limits.chargedPercent;
        rule(Kind::Charged, r.charging && *r.percent >= limit,
             !r.charging || *r.percent <= limit - kLevelBack,
             QStringLiteral("%1 reached %2% — unplug it to spare the battery")
                 .arg(name, level(*r.percent)));
    }
    if (limits.lowPercent > 0 && r.percent) {
        const double limit = limits.lowPercent;
        rule(Kind::Low, !r.charging && *r.percent <= limit,
             r.charging || *r.percent >= limit + kLevelBack,
             QStringLiteral("%1 is down to %2%").arg(name, level(*r.percent)));
    }
    // A headset that gives only a coarse level is low when it says so.
    if (limits.lowPercent > 0 && !r.percent && !r.level.isEmpty()) {
        const bool low = r.level == u"low" || r.level == u"critical";
        rule(Kind::Low, !r.charging && low, r.charging || !low,
             QStringLiteral("%1's battery is %2").arg(name, r.level));
    }
    if (limits.hotCelsius > 0 && r.temperatureC) {
        const double limit = limits.hotCelsius;
        rule(Kind::Hot, *r.temperatureC > limit, *r.temperatureC <= limit - kCooler,
             QStringLiteral("%1's battery is at %2 °C").arg(name, degrees(*r.temperatureC)));
    }
    if (limits.drainingOnMains > 0 && r.flow)
        rule(Kind::Draining, r.draining, !r.onMains || *r.flow > 0,
             QStringLiteral("%1 is losing charge while plugged in").arg(name));
    return out;
}

} // namespace care
