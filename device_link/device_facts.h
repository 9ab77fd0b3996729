// What every kind of device shares in meaning: the processor codes of its family and the words
// for its battery's state, so that an Android phone and an iPhone with the same processor or
// the same charge read alike.
#pragma once

#include "device_link/device_value.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <optional>

namespace device {

// The processor type code for a family name ("arm64-v8a", "aarch64", "arm64e", "x86_64"). The
// x86 family gives 586; other processors give codes that name no processor the window knows;
// nothing known gives 0.
qint32 processorFamilyCode(QStringView name);

// The battery flag: 128 with no battery, 8 charging, 255 with no charge known, then 4, 2 or 1
// by the charge in percent (critical at 5 or less, low at 15 or less, high above).
double batteryFlag(bool present, bool charging, std::optional<double> percent);

// A device-supplied text made safe to show and print: control characters become blanks and
// anything past a sensible length is cut.
QString printable(QStringView text, qsizetype maxLength = 64);

// At most MAX_UNITS UTF-16 units of TEXT, never half a character: a pair cut in two would be
// invalid UTF-8 once encoded.
QStringView leftWhole(QStringView text, qsizetype maxUnits);

// What a power status gives for a time that the device does not know.
inline constexpr double kUnknownTime = 4294967295.0;

// A total and what remains of it, in bytes: physical memory, storage.
struct ByteCounts {
    double total = 0;
    double remaining = 0;
    bool operator==(const ByteCounts&) const = default;
};

// The four values of a power status, as the window's query gives them (times in seconds).
struct PowerStatus {
    double flag = 255;
    double percent = 255;
    double lifeTime = kUnknownTime;
    double fullLifeTime = kUnknownTime;
    bool operator==(const PowerStatus&) const = default;
};

// How much a battery holds now against what it was made to hold, both in mAh: its health.
struct BatteryCapacity {
    double fullMah = 0;
    double designMah = 0;
    bool operator==(const BatteryCapacity&) const = default;
};

// The capacity from a device's two figures, where both are there and believable: a design from
// 300 to 50,000 mAh and a ratio from 20% to 130% (a new battery can read a little over 100%).
std::optional<BatteryCapacity> batteryCapacity(std::optional<double> fullMah,
                                               std::optional<double> designMah);

// "Maximum capacity: 87% of its design (2,850 of 3,279 mAh)".
QString capacityText(const BatteryCapacity& capacity);

// Which way a battery's status says power flows: into it while it charges, out of it while it
// discharges; in any other state the device's own sign stands.
enum class Flow { In, Out, AsSaid };

// A current or a power as a device gave it, made honest: none where it is not finite or is
// beyond LIMIT either way (a maker's "unsupported" is often INT_MIN); its sign from FLOW.
std::optional<double> flowing(std::optional<double> value, Flow flow, double limit);

// The most a phone's battery takes or gives, in amperes and watts; past them a reading is junk.
inline constexpr double kMostAmperes = 25;
inline constexpr double kMostWatts = 500;
// Less than this leaving a battery on mains is a full or resting battery's float, not a charger
// that cannot keep up: about what 25 mA are at a cell's voltage.
inline constexpr double kDrainWatts = 0.1;
inline constexpr double kDrainAmperes = 0.025;

// What flows into (positive) or out of (negative) the battery, and what its charger can give.
struct PowerFlow {
    std::optional<double> currentA;
    std::optional<double> voltageV;
    std::optional<double> powerW;
    std::optional<double> chargerW;
};

// FLOW with what its figures imply: the power from current and voltage, or the current from
// power and voltage, where that is believable.
PowerFlow completed(PowerFlow flow);

// A charger's rating where it is one: from half a watt (a USB 2.0 port gives 2.5 W) to kMostWatts.
std::optional<double> chargerRating(std::optional<double> watts);
// Watts as a charger's are said: "2.5", "27".
QString wattsText(double watts);

// A flow's size in watts, whichever way it goes: "7.6 W".
QString flowWattsText(double watts);

// Whether a battery on mains loses enough to say so: by its power, or its current where that
// is all it gives.
bool draining(std::optional<double> currentA, std::optional<double> powerW, bool onMains);

// The flow in words and figures: "Charging at 7.6 W (1.85 A at 4.1 V) from a 27 W charger",
// "Losing 1.9 W while plugged in: the charger or port cannot keep up"; empty where nothing
// is known.
QString flowText(const PowerFlow& flow, bool onMains);

// A query's answer from what a device gave: the values into the by-reference arguments and a
// true flag, or a false flag and the arguments untouched when it gave nothing.
DeviceValue report(const std::optional<ByteCounts>& counts, DeviceValue& total,
                   DeviceValue& remaining);
DeviceValue report(const std::optional<PowerStatus>& power, DeviceValue& flag, DeviceValue& percent,
                   DeviceValue& lifeTime, DeviceValue& fullLifeTime);

} // namespace device
