// What UPower says of a device, as the window, a report and the metrics read it: property sets
// as UPower gives them for each type and state, a coarse level only, missing properties,
// absurd values and a hostile model.
#include "device_link/upower/upower_values.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/UPower/devices/headset_dev_AA");

// "Key=value ...": 17u an unsigned, 7200L a 64-bit time, 57.0 a double, true or false, else
// text ("~" for a blank).
QVariantMap properties(const char* text, QVariantMap more = {}) {
    QVariantMap out;
    for (const QString& pair : QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0), v = pair.section(u'=', 1);
        bool number = false;
        v.chopped(1).toDouble(&number);
        out.insert(key, v == u"true" || v == u"false" ? QVariant(v == u"true")
                        : v.endsWith(u'u') && number  ? QVariant(v.chopped(1).toUInt())
                        : v.endsWith(u'L') && number  ? QVariant(v.chopped(1).toLongLong())
                        : v.contains(u'.') && (v.toDouble(&number), number)
                            ? QVariant(v.toDouble())
                            : QVariant(QString(v).replace(u'~', u' ')));
    }
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

const char* const kHeadset =
    "Type=17u PowerSupply=false Model=Evolve2~65 Vendor=Jabra Serial=AA:BB:CC:DD:EE:FF "
    "NativePath=/org/bluez/hci0/dev_AA_BB Percentage=57.0 State=2u TimeToEmpty=7200L "
    "TimeToFull=0L IsPresent=true BatteryLevel=1u Online=false ";

// What a reading holds: serial|name|label|flag|percent|time to empty|mains|level|details.
QString reads(const QVariantMap& p) {
    if (!upower::isAttached(kPath, p))
        return QStringLiteral("not attached");
    const DeviceReading r = upower::reading(kPath, p);
    return QStringList{r.serial,
                       r.name,
                       upower::label(p),
                       QString::number(r.power->flag),
                       QString::number(r.power->percent),
                       r.power->lifeTime == device::kUnknownTime
                           ? QStringLiteral("-")
                           : QString::number(r.power->lifeTime),
                       QString::number(r.mains),
                       r.details.battery.level,
                       r.details.power.join(QStringLiteral("; "))}
        .join(u'|');
}

TEST(UPowerValues, EachPropertySetReadsAsTheWindowShowsIt) {
    const std::string headset = kHeadset;
    const std::pair<QVariantMap, const char*> cases[] = {
        {properties(kHeadset), "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|1|57|7200|0||"},
        {properties((headset + "State=1u Percentage=12.0 TimeToEmpty=0L TimeToFull=3000L "
                               "Capacity=87.4 ChargeCycles=143u Temperature=31.25 Technology=2u")
                        .c_str()),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|8|12|-|1||Maximum capacity: 87% of its design; "
         "Charge cycles: 143; Temperature: 31.3 °C; Technology: lithium-polymer"},
        {properties(
             (headset + "Percentage=9.0 EnergyFull=2.96 EnergyFullDesign=3.7 Voltage=3.7").c_str()),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|2|9|7200|0||Maximum capacity: 80% of its design "
         "(3.0 of 3.7 Wh); Voltage: 3.70 V"},
        // A coarse level's percentage is no percentage.
        {properties("Type=5u Vendor=Logitech NativePath=hidpp_battery_0 Percentage=55.0 "
                    "BatteryLevel=6u State=2u"),
         "hidpp_battery_0|Logitech mouse|Mouse|1|255|-|0|normal|Battery level: normal (it gives "
         "no percentage)"},
        {properties("Type=6u BatteryLevel=4u State=1u"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|keyboard|Keyboard|8|255|-|1|critical|"
         "Battery level: critical (it gives no percentage)"},
        {properties("Type=6u BatteryLevel=3u State=2u"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|keyboard|Keyboard|2|255|-|0|low|"
         "Battery level: low (it gives no percentage)"},
        // A UPS's mains are on while it is full.
        {properties("Type=3u PowerSupply=true Model=Back-UPS~ES~700 Serial=4B1925P12345 "
                    "Percentage=100.0 State=4u TimeToEmpty=2400L"),
         "4B1925P12345|Back-UPS ES 700|UPS|1|100|2400|1||"},
        {properties("Type=3u Percentage=64.0 State=2u"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|ups|UPS|1|64|-|0||"},
        // EnergyRate is always positive: its way is the state's; 0 is a device that says none.
        {properties("Type=3u Percentage=64.0 State=2u EnergyRate=42.5 Voltage=13.2"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|ups|UPS|1|64|-|0||Voltage: 13.20 V; "
         "Discharging at 42.5 W (3.22 A at 13.2 V)"},
        {properties("Type=3u Percentage=64.0 State=1u EnergyRate=12.0"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|ups|UPS|8|64|-|1||Charging at 12.0 W"},
        {properties("Type=3u Percentage=100.0 State=4u EnergyRate=30.0"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|ups|UPS|1|100|-|1||"},
        {properties(kHeadset, {{"EnergyRate", 0.0}}),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|1|57|7200|0||"},
        {properties("Type=12u"), "/org/freedesktop/UPower/devices/"
                                 "headset_dev_AA|gaming-input|Gaming input|255|255|-|255||"},
        {properties("Type=29u"), "/org/freedesktop/UPower/devices/" // the first past the types
                                 "headset_dev_AA|unknown|Unknown|255|255|-|255||"},
        {properties(kHeadset, {{"Percentage", 250.0},
                               {"TimeToEmpty", qlonglong(-60)},
                               {"Temperature", std::numeric_limits<double>::quiet_NaN()},
                               {"ChargeCycles", -1},
                               {"Capacity", 0.0},
                               {"EnergyRate", 1e9},
                               {"Type", 99u}}),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Unknown|255|255|-|0||"},
        {properties(kHeadset, {{"Percentage", 0.0}, {"TimeToEmpty", qlonglong(0)}}),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|4|0|-|0||"},
        // Numbers given as text are none.
        {properties(kHeadset, {{"Percentage", -1.0}, {"TimeToEmpty", "7200"}, {"State", "2"}}),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|255|255|-|255||"},
        {properties(kHeadset, {{"Model", "<b>Evil</b>\n\x1b[31mred"}, {"Serial", ""}}),
         "/org/bluez/hci0/dev_AA_BB|<b>Evil</b>  [31mred|Headset|1|57|7200|0||"},
        {properties(kHeadset, {{"IsPresent", false}}),
         "AA:BB:CC:DD:EE:FF|Evolve2 65|Headset|128|255|7200|0||"},
        {properties("Type=2u PowerSupply=true Percentage=80.0"), "not attached"},
        {properties("Type=2u Percentage=80.0"), "not attached"}, // a battery is the computer's
        {properties("Type=1u Online=true"), "not attached"},
        {properties("Online=true"), "not attached"},
        {properties("Type=2u PowerSupply=false Percentage=30.0"),
         "/org/freedesktop/UPower/devices/headset_dev_AA|battery|Battery|1|30|-|255||"},
    };
    for (const auto& [p, expected] : cases)
        EXPECT_EQ(reads(p), QString::fromUtf8(expected));
    EXPECT_FALSE(upower::isAttached(QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
                                    properties(kHeadset)));
    EXPECT_EQ(upower::reading(kPath, properties(kHeadset)).kind, DeviceKind::UPower);

    // Two that give one serial stay two, each by its path; one another kind shows is left to it;
    // the computer's own power is none of them.
    const QString dir = QStringLiteral("/org/freedesktop/UPower/devices/");
    const QMap<QString, QVariantMap> devices{
        {dir + "gaming_input_1", properties("Type=12u Serial=0000 Percentage=80.0")},
        {dir + "gaming_input_2", properties("Type=12u Serial=0000 Percentage=10.0")},
        {dir + "headset", properties("Type=17u Serial=AA:BB Percentage=50.0")},
        {dir + "phone", properties("Type=8u Serial=00008110-001A Percentage=50.0")},
        {dir + "battery_BAT0", properties("Type=2u PowerSupply=true Percentage=80.0")}};
    QStringList keys;
    for (const upower::Attached& d : upower::attached(devices, {"00008110-001A"}))
        keys << d.serial + u'@' + d.path.section(u'/', -1);
    EXPECT_EQ(keys, QStringList({dir + "gaming_input_1@gaming_input_1",
                                 dir + "gaming_input_2@gaming_input_2", "AA:BB@headset"}));
}

} // namespace
