// When a battery's reading deserves a word: the charge has reached the user's limit while
// charging, has fallen to it while not, the battery runs hot, or it loses charge while plugged
// in. Each comes once, at the moment it matters, and is armed again only when its condition has
// really ended: charging stopped or the level 5 points back, 3 °C cooler, unplugged or charging
// again; and never twice for a device within 10 minutes.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace care {

// What each limit may be while it is on: the settings hold a value to it, the dialog offers it.
struct Range {
    int least;
    int most;
};
inline constexpr Range kChargedRange{50, 100};
inline constexpr Range kLowRange{5, 50};
inline constexpr Range kHotRange{30, 60};
inline constexpr Range kIntervalRange{10, 3600};
inline constexpr Range kSwitchRange{1, 1}; // on or off

// What the user asked to hear of; 0 is off.
struct Limits {
    int chargedPercent = 0;
    int lowPercent = 0;
    int hotCelsius = 0;
    int intervalSeconds = 60;
    int drainingOnMains = 0; // 1: on
    bool any() const {
        return chargedPercent > 0 || lowPercent > 0 || hotCelsius > 0 || drainingOnMains > 0;
    }
    bool operator==(const Limits&) const = default;
};

// One read of a device's battery.
struct Reading {
    QString serial;
    QString name; // what the words call it
    std::optional<double> percent;
    QString level; // a coarse level, where no percentage is given
    bool charging = false;
    std::optional<double> temperatureC;
    QDateTime time;
    bool onMains = false;
    std::optional<double> flow = {}; // into the battery, in watts or else amperes
    bool draining = false;           // on mains, and losing enough to say so
};

// A charge in the words' whole points, as the window's bar shows it: "78".
QString level(double percent);

enum class Kind { Charged, Low, Hot, Draining };
inline constexpr std::size_t kKinds = 4;

struct Notice {
    Kind kind;
    QString serial;
    QString text;
    // Heat is critical; the charge ones are normal.
    bool critical() const { return kind == Kind::Hot; }
    bool operator==(const Notice&) const = default;
};

// What the rules remember of one kind of notice for one device.
struct Armed {
    bool armed = true; // its condition has ended since it last fired, or it never did
    QDateTime last;    // when it last fired
    QString text;      // what it said then
    bool operator==(const Armed&) const = default;
};
// By serial, by kind.
using RulesState = QHash<QString, std::array<Armed, kKinds>>;

class Rules {
public:
    // What READING, the latest of its device, gives under LIMITS.
    std::vector<Notice> step(const Limits& limits, const Reading& reading);
    // What was said, and what may be said again: kept across runs.
    const RulesState& state() const { return m_devices; }
    void setState(RulesState state) { m_devices = std::move(state); }

private:
    RulesState m_devices;
};

} // namespace care
