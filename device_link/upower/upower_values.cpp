#include "device_link/upower/upower_values.h"

#include <QMetaType>

#include <cmath>
#include <optional>

namespace upower {
namespace {

// UPower's UpDeviceKind, in its order (up-types.h): the words its own tools print.
const char* const kTypes[] = {
    "unknown",      "line-power", "battery",  "ups",          "monitor",          "mouse",
    "keyboard",     "pda",        "phone",    "media-player", "tablet",           "computer",
    "gaming-input", "pen",        "touchpad", "modem",        "network",          "headset",
    "speakers",     "headphones", "video",    "other-audio",  "remote-control",   "printer",
    "scanner",      "camera",     "wearable", "toy",          "bluetooth-generic"};
constexpr uint kLinePower = 1;
constexpr uint kBattery = 2;
constexpr uint kUps = 3;

// UpDeviceState.
enum State : uint {
    Charging = 1,
    Discharging = 2,
    Empty = 3,
    FullyCharged = 4,
    PendingCharge = 5,
    PendingDischarge = 6
};

// A number UPower gave, where it is one and finite.
std::optional<double> number(const QVariantMap& p, const char* key) {
    const QVariant v = p.value(QLatin1String(key));
    const int type = v.metaType().id();
    const bool numeric = type == QMetaType::Double || type == QMetaType::Int ||
                         type == QMetaType::UInt || type == QMetaType::LongLong ||
                         type == QMetaType::ULongLong || type == QMetaType::Short ||
                         type == QMetaType::UShort || type == QMetaType::UChar;
    bool ok = false;
    const double value = numeric ? v.toDouble(&ok) : 0;
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> within(std::optional<double> value, double low, double high) {
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

uint whole(const QVariantMap& p, const char* key) {
    return uint(within(number(p, key), 0, 1e6).value_or(0));
}

QString text(const QVariantMap& p, const char* key, qsizetype length = 64) {
    const QVariant v = p.value(QLatin1String(key));
    return v.metaType().id() == QMetaType::QString
               ? device::printable(v.toString(), length).trimmed()
               : QString();
}

bool truth(const QVariantMap& p, const char* key, bool otherwise) {
    const QVariant v = p.value(QLatin1String(key));
    return v.metaType().id() == QMetaType::Bool ? v.toBool() : otherwise;
}

// A time in seconds, where the device knows one: UPower says 0 where it does not.
double seconds(const QVariantMap& p, const char* key) {
    return within(number(p, key), 1, 864000 * 10).value_or(device::kUnknownTime);
}

const char* technology(uint code) {
    static const char* const words[] = {
        nullptr,     "lithium-ion",    "lithium-polymer",     "lithium-iron-phosphate",
        "lead-acid", "nickel-cadmium", "nickel-metal-hydride"};
    return code < std::size(words) ? words[code] : nullptr;
}

QString capitalized(QString word) {
    if (!word.isEmpty())
        word[0] = word[0].toUpper();
    return word;
}

} // namespace

QString typeWord(uint type) {
    return QString::fromLatin1(type < std::size(kTypes) ? kTypes[type] : kTypes[0]);
}

bool isAttached(const QString& path, const QVariantMap& p) {
    const uint type = whole(p, "Type");
    // Line power says whether it is online; one that gives no type at all is known by that.
    const bool linePower = type == kLinePower || (!p.contains(QStringLiteral("Type")) &&
                                                  p.contains(QStringLiteral("Online")));
    if (path.endsWith(QLatin1String("/DisplayDevice")) || linePower)
        return false;
    return !(type == kBattery && truth(p, "PowerSupply", true));
}

QString serial(const QString& path, const QVariantMap& p) {
    for (const char* key : {"Serial", "NativePath"}) {
        if (const QString said = text(p, key, 128); !said.isEmpty())
            return said;
    }
    return device::printable(path, 128);
}

std::vector<Attached> attached(const QMap<QString, QVariantMap>& devices,
                               const QSet<QString>& others) {
    QHash<QString, int> given;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (isAttached(it.key(), it.value()))
            ++given[serial(it.key(), it.value())];
    }
    std::vector<Attached> out;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        const QString own = serial(it.key(), it.value());
        if (!isAttached(it.key(), it.value()) || others.contains(own))
            continue;
        out.push_back(
            {given.value(own) > 1 ? device::printable(it.key(), 128) : own, it.key(), it.value()});
    }
    return out;
}

QString model(const QVariantMap& p) {
    return text(p, "Model");
}

QString name(const QVariantMap& p) {
    if (const QString said = model(p); !said.isEmpty())
        return said;
    const QString vendor = text(p, "Vendor");
    const QString type = typeWord(whole(p, "Type"));
    return vendor.isEmpty() ? type : vendor + u' ' + type;
}

QString label(const QVariantMap& p) {
    const uint type = whole(p, "Type");
    return type == kUps ? QStringLiteral("UPS") : capitalized(typeWord(type).replace(u'-', u' '));
}

QString levelWord(const QVariantMap& p) {
    // UpDeviceLevel: 0 unknown, 1 none (a percentage is given), 3 low, 4 critical, 6 normal,
    // 7 high, 8 full.
    switch (whole(p, "BatteryLevel")) {
    case 3:
        return QStringLiteral("low");
    case 4:
        return QStringLiteral("critical");
    case 6:
        return QStringLiteral("normal");
    case 7:
        return QStringLiteral("high");
    case 8:
        return QStringLiteral("full");
    default:
        return {};
    }
}

DeviceReading reading(const QString& path, const QVariantMap& p) {
    DeviceReading out;
    out.kind = DeviceKind::UPower;
    out.serial = serial(path, p);
    out.name = name(p);
    const uint type = whole(p, "Type");
    const uint state = whole(p, "State");
    const bool present = truth(p, "IsPresent", true);
    const bool charging = state == Charging || state == PendingCharge;
    BatteryFacts& battery = out.details.battery;
    battery.level = levelWord(p);

    device::PowerStatus power;
    // A coarse level's percentage is UPower's guess, to be ignored: none is made up.
    if (const auto percent = within(number(p, "Percentage"), 0, 100);
        percent && battery.level.isEmpty() && present)
        battery.percent = *percent;
    if (!battery.level.isEmpty() && present)
        power.flag = charging                                     ? 8
                     : battery.level == QLatin1String("critical") ? 4
                     : battery.level == QLatin1String("low")      ? 2
                                                                  : 1;
    else
        power.flag = device::batteryFlag(present, charging, battery.percent);
    power.percent = battery.percent.value_or(255);
    power.lifeTime = seconds(p, "TimeToEmpty");
    power.fullLifeTime = seconds(p, "TimeToFull");
    out.power = power;
    // A UPS's mains are on while it charges or is full; a headset's charger is on while it
    // charges.
    if (charging || (type == kUps && state == FullyCharged))
        out.mains = 1;
    else if (state == Discharging || state == Empty || state == PendingDischarge)
        out.mains = 0;

    QStringList& lines = out.details.power;
    if (!battery.level.isEmpty())
        lines << QStringLiteral("Battery level: %1 (it gives no percentage)").arg(battery.level);
    const auto full = within(number(p, "EnergyFull"), 0.001, 1e5);
    const auto design = within(number(p, "EnergyFullDesign"), 0.001, 1e5);
    const auto volts = within(number(p, "Voltage"), 0.5, 1000);
    if (full && design && volts && *full / *design >= 0.2 && *full / *design <= 1.3) {
        battery.capacity = device::BatteryCapacity{*full / *volts * 1000, *design / *volts * 1000};
        lines << QStringLiteral("Maximum capacity: %1% of its design (%2 of %3 Wh)")
                     .arg(qRound(*full * 100 / *design))
                     .arg(*full, 0, 'f', 1)
                     .arg(*design, 0, 'f', 1);
    } else if (const auto capacity = within(number(p, "Capacity"), 1, 130)) {
        battery.capacityPercent = *capacity;
        lines << QStringLiteral("Maximum capacity: %1% of its design").arg(qRound(*capacity));
    }
    if (const auto cycles = within(number(p, "ChargeCycles"), 1, 100000)) {
        battery.cycles = qint64(*cycles);
        lines << QStringLiteral("Charge cycles: %1").arg(*battery.cycles);
    }
    if (const auto celsius = within(number(p, "Temperature"), 0.1, 150)) {
        battery.temperatureC = *celsius;
        lines << QStringLiteral("Temperature: %1 °C").arg(*celsius, 0, 'f', 1);
    }
    if (volts) {
        battery.voltageV = *volts;
        lines << QStringLiteral("Voltage: %1 V").arg(*volts, 0, 'f', 2);
    }
    if (const char* made = technology(whole(p, "Technology")))
        lines << QStringLiteral("Technology: %1").arg(QLatin1String(made));
    // EnergyRate is always positive: its way is the state's, and a state of neither way (full,
    // unknown) gives it none. A peripheral mostly says 0: none.
    const bool discharging = state == Discharging || state == PendingDischarge || state == Empty;
    if (const auto rate = within(number(p, "EnergyRate"), 0.001, device::kMostWatts);
        rate && (charging || discharging))
        addPowerFlow(out.details,
                     {{},
                      volts,
                      device::flowing(rate, charging ? device::Flow::In : device::Flow::Out,
                                      device::kMostWatts),
                      {}},
                     out.mains == 1);
    out.details.system.type = typeWord(type);
    out.details.system.model = text(p, "Model");
    out.processorCode = 0;
    const QString noun = type == kUps ? label(p) : label(p).toLower();
    const bool vowel = QStringLiteral("aeiou").contains(noun.front()) && type != kUps;
    out.status =
        QStringLiteral("Connected to %1 (%2), %3 %4, through UPower.")
            .arg(out.name, out.serial, vowel ? QStringLiteral("an") : QStringLiteral("a"), noun);
    return out;
}

} // namespace upower
