// What UPower says of a device, as the window, a report and the metrics read it: property sets
// as UPower gives them for each type and state, a coarse level only, missing properties,
// absurd values and a hostile model.
#include "device_link/upower/upower_values.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/UPower/devices/headset_dev_AA");

struct Case {
    const char* what;
    QVariantMap properties;
    bool attached;
    const char* serial;
    const char* name;
    const char* label;
    double flag;
    double percent;    // 255: unknown
    double lifeTime;   // -1: unknown
    int mains;         // 1, 0, or 255: unknown
    const char* level; // empty: a percentage
    const char* lines; // the power panel's details, joined by " | "
};

QVariantMap headset(QVariantMap more = {}) {
    QVariantMap p{{"Type", 17u},
                  {"PowerSupply", false},
                  {"Model", "Evolve2 65"},
                  {"Vendor", "Jabra"},
                  {"Serial", "AA:BB:CC:DD:EE:FF"},
                  {"NativePath", "/org/bluez/hci0/dev_AA_BB"},
                  {"Percentage", 57.0},
                  {"State", 2u},
                  {"TimeToEmpty", qlonglong(7200)},
                  {"TimeToFull", qlonglong(0)},
                  {"IsPresent", true},
                  {"BatteryLevel", 1u},
                  {"Online", false}};
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        p.insert(it.key(), it.value());
    return p;
}

TEST(UPowerValues, EachPropertySetReadsAsTheWindowShowsIt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"a headset on battery", headset(), true, "AA:BB:CC:DD:EE:FF", "Evolve2 65", "Headset", 1,
         57, 7200, 0, "", ""},
        {"charging, with its health",
         headset({{"State", 1u},
                  {"Percentage", 12.0},
                  {"TimeToEmpty", qlonglong(0)},
                  {"TimeToFull", qlonglong(3000)},
                  {"Capacity", 87.4},
                  {"ChargeCycles", 143},
                  {"Temperature", 31.25},
                  {"Technology", 2u}}),
         true, "AA:BB:CC:DD:EE:FF", "Evolve2 65", "Headset", 8, 12, -1, 1, "",
         "Maximum capacity: 87% of its design | Charge cycles: 143 | Temperature: 31.3 °C | "
         "Technology: lithium-polymer"},
        {"low, and its energies with its voltage",
         headset({{"Percentage", 9.0},
                  {"EnergyFull", 2.96},
                  {"EnergyFullDesign", 3.7},
                  {"Voltage", 3.7}}),
         true, "AA:BB:CC:DD:EE:FF", "Evolve2 65", "Headset", 2, 9, 7200, 0, "",
         "Maximum capacity: 80% of its design (3.0 of 3.7 Wh) | Voltage: 3.70 V"},
        {"a mouse with a coarse level only: no percentage made up",
         QVariantMap{{"Type", 5u},
                     {"Vendor", "Logitech"},
                     {"NativePath", "hidpp_battery_0"},
                     {"Percentage", 55.0},
                     {"BatteryLevel", 6u},
                     {"State", 2u}},
         true, "hidpp_battery_0", "Logitech mouse", "Mouse", 1, 255, -1, 0, "normal",
         "Battery level: normal (it gives no percentage)"},
        {"a keyboard at a critical level, charging",
         QVariantMap{{"Type", 6u}, {"BatteryLevel", 4u}, {"State", 1u}}, true,
         "/org/freedesktop/UPower/devices/headset_dev_AA", "keyboard", "Keyboard", 8, 255, -1, 1,
         "critical", "Battery level: critical (it gives no percentage)"},
        {"a UPS, fully charged: its mains are on",
         QVariantMap{{"Type", 3u},
                     {"PowerSupply", true},
                     {"Model", "Back-UPS ES 700"},
                     {"Serial", "4B1925P12345"},
                     {"Percentage", 100.0},
                     {"State", 4u},
                     {"TimeToEmpty", qlonglong(2400)}},
         true, "4B1925P12345", "Back-UPS ES 700", "UPS", 1, 100, 2400, 1, "", ""},
        {"a UPS on its battery", QVariantMap{{"Type", 3u}, {"Percentage", 64.0}, {"State", 2u}},
         true, "/org/freedesktop/UPower/devices/headset_dev_AA", "ups", "UPS", 1, 64, -1, 0, "",
         ""},
        {"a controller with nothing but its type", QVariantMap{{"Type", 12u}}, true,
         "/org/freedesktop/UPower/devices/headset_dev_AA", "gaming-input", "Gaming input", 255, 255,
         -1, 255, "", ""},
        {"absurd values are none",
         headset({{"Percentage", 250.0},
                  {"TimeToEmpty", qlonglong(-60)},
                  {"Temperature", nan},
                  {"ChargeCycles", -1},
                  {"Capacity", 0.0},
                  {"Type", 99u}}),
         true, "AA:BB:CC:DD:EE:FF", "Evolve2 65", "Unknown", 255, 255, -1, 0, "", ""},
        {"a negative percentage, and numbers given as text",
         headset({{"Percentage", -1.0}, {"TimeToEmpty", "7200"}, {"State", "2"}}), true,
         "AA:BB:CC:DD:EE:FF", "Evolve2 65", "Headset", 255, 255, -1, 255, "", ""},
        {"a hostile model: plain text, one line",
         headset({{"Model", "<b>Evil</b>\n\x1b[31mred"}, {"Serial", ""}}), true,
         "/org/bluez/hci0/dev_AA_BB", "<b>Evil</b>  [31mred", "Headset", 1, 57, 7200, 0, "", ""},
        {"a headset not present", headset({{"IsPresent", false}}), true, "AA:BB:CC:DD:EE:FF",
         "Evolve2 65", "Headset", 128, 255, 7200, 0, "", ""},
        {"the computer's own battery",
         QVariantMap{{"Type", 2u}, {"PowerSupply", true}, {"Percentage", 80.0}}, false, "", "", "",
         0, 0, 0, 0, "", ""},
        {"line power", QVariantMap{{"Type", 1u}, {"Online", true}}, false, "", "", "", 0, 0, 0, 0,
         "", ""},
        {"line power that gives no type", QVariantMap{{"Online", true}}, false, "", "", "", 0, 0, 0,
         0, "", ""},
        {"a battery that powers nothing of the computer's: a peripheral's",
         QVariantMap{{"Type", 2u}, {"PowerSupply", false}, {"Percentage", 30.0}}, true,
         "/org/freedesktop/UPower/devices/headset_dev_AA", "battery", "Battery", 1, 30, -1, 255, "",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(upower::isAttached(kPath, c.properties), c.attached);
        if (!c.attached)
            continue;
        const DeviceReading r = upower::reading(kPath, c.properties);
        EXPECT_EQ(r.kind, DeviceKind::UPower);
        EXPECT_EQ(r.serial, QString::fromUtf8(c.serial));
        EXPECT_EQ(r.name, QString::fromUtf8(c.name));
        EXPECT_EQ(upower::label(c.properties), QString::fromUtf8(c.label));
        ASSERT_TRUE(r.power);
        EXPECT_EQ(r.power->flag, c.flag);
        EXPECT_EQ(r.power->percent, c.percent);
        EXPECT_EQ(r.power->lifeTime, c.lifeTime < 0 ? device::kUnknownTime : c.lifeTime);
        EXPECT_EQ(r.mains, c.mains);
        EXPECT_EQ(r.details.battery.level, QString::fromUtf8(c.level));
        EXPECT_EQ(r.details.power.join(QStringLiteral(" | ")), QString::fromUtf8(c.lines));
    }
    EXPECT_FALSE(upower::isAttached(QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
                                    headset()));
}

} // namespace
