// Every battery at a glance: each device's line and standing as one table of readings, the
// device that most needs a look, Waybar's line, and the battery the panel shows at every size.
#include "care/glance.h"
#include "cli/script_face.h"
#include "desktop/status_item.h"
#include "device_link/upower/upower_values.h"
#include "layout/battery_icon.h"
#include "qt_printers.h"

#include <QSet>

#include <tuple>

#include <gtest/gtest.h>

namespace {

survey::ListedDevice listed(const QString& serial, const QString& name,
                            const QString& state = "ready") {
    return {serial, DeviceKind::Android, state, name};
}

// A phone's battery as the adb link reads it: its flag, charge, mains and what flows.
DeviceReading phone(double percent, bool charging, bool mains, std::optional<double> watts = {},
                    std::optional<double> celsius = {}) {
    DeviceReading r;
    r.power = device::PowerStatus{charging        ? 8.0
                                  : percent <= 15 ? 2.0
                                                  : 1.0,
                                  percent, device::kUnknownTime, device::kUnknownTime};
    r.mains = mains ? 1 : 0;
    r.details.battery.powerW = watts;
    r.details.battery.temperatureC = celsius;
    return r;
}

// A peripheral as UPower gives it.
DeviceReading peripheral(QVariantMap properties) {
    properties.insert("IsPresent", true);
    return upower::reading("/org/freedesktop/UPower/devices/x", properties);
}

TEST(Glance, EachDeviceHasOneLineInTheDetailsWordsAndAStanding) {
    using care::Standing;
    DeviceReading upTo = phone(78, true, true, 7.6, 31);
    upTo.power->fullLifeTime = 2400;
    DeviceReading noBattery = phone(0, false, true);
    noBattery.power->flag = 128;
    struct Case {
        care::Watched device;
        const char* line;
        Standing standing;
    };
    const Case cases[] = {
        {{listed("R58M", "Pixel Lab 7"), upTo},
         "Pixel Lab 7 — 78%, charging at 7.6 W, full in 40 min",
         Standing::Charging},
        {{listed("AA:BB", "Evolve2 65"), peripheral({{"Type", 17u},
                                                     {"Model", QString("Evolve2 65")},
                                                     {"Percentage", 45.0},
                                                     {"State", 2u},
                                                     {"TimeToEmpty", qint64(11400)}})},
         "Evolve2 65 — 45%, 3 h 10 min left",
         Standing::Ok},
        {{listed("hidpp", "Logitech mouse"), peripheral({{"Type", 5u},
                                                         {"Vendor", QString("Logitech")},
                                                         {"Percentage", 55.0},
                                                         {"BatteryLevel", 6u}})},
         "Logitech mouse — normal",
         Standing::Ok},
        {{listed("4B19", "Back-UPS ES 700"), peripheral({{"Type", 3u},
                                                         {"Model", QString("Back-UPS ES 700")},
                                                         {"PowerSupply", true},
                                                         {"Percentage", 100.0},
                                                         {"State", 4u}})},
         "Back-UPS ES 700 — 100%, on mains",
         Standing::Ok},
        {{listed("hot", "Hot phone"), phone(64, true, true, 7.6, 46.04)},
         "Hot phone — 64%, hot at 46 °C, charging at 7.6 W",
         Standing::Hot},
        {{listed("drain", "Lab tablet"), phone(61, false, true, -1.94)},
         "Lab tablet — 61%, losing 1.9 W while plugged in",
         Standing::Draining},
        // A float of a full battery is no drain, nor a flow worth its words.
        {{listed("float", "Full tablet"), phone(100, false, true, -0.05)},
         "Full tablet — 100%, on mains",
         Standing::Ok},
        {{listed("low", "Pixel 6"), phone(15, false, false, -1.5)},
         "Pixel 6 — 15%, discharging at 1.5 W",
         Standing::Low},
        {{listed("crit", "Pixel 5"), phone(5, false, false)}, "Pixel 5 — 5%", Standing::Critical},
        {{listed("k", "keyboard"),
          peripheral({{"Type", 6u}, {"Percentage", 3.0}, {"BatteryLevel", 4u}})},
         "keyboard — critical",
         Standing::Critical},
        {{listed("R58N", "", "unauthorized"), std::nullopt}, "R58N — unauthorized", Standing::Ok},
        {{{"00008110-001A", DeviceKind::Apple, "trust", "Ana's iPhone"}, std::nullopt},
         "Ana's iPhone — waiting for Trust",
         Standing::Ok},
        {{listed("tv", "Living room TV"), noBattery}, "Living room TV — no battery", Standing::Ok},
        {{listed("new", "Pixel 8"), std::nullopt}, "Pixel 8", Standing::Ok},
        // A device's name never rings a bell or starts a line of its own; an emoji stays whole.
        {{listed("bell", "Ring\a\nme\u2028\u2029"), phone(50, false, false)},
         "Ring  me   — 50%",
         Standing::Ok},
        {{listed("emoji", "Ana's Pixel 😀"), phone(50, false, false)},
         "Ana's Pixel 😀 — 50%",
         Standing::Ok},
        {{listed("half", QString("Half ") + QChar(0xd83d)), phone(50, false, false)},
         "Half   — 50%",
         Standing::Ok},
    };
    for (const Case& c : cases) {
        const care::Glance g = care::glance({c.device}, {});
        ASSERT_EQ(g.rows.size(), 1u);
        EXPECT_EQ(g.rows[0].line, QString::fromUtf8(c.line));
        EXPECT_EQ(care::standingWord(g.rows[0].standing), care::standingWord(c.standing)) << c.line;
    }
    // Low and hot follow the notices the user set.
    const care::Limits limits{0, 10, 44, 60};
    EXPECT_EQ(
        care::glance({{listed("low", "P"), phone(15, false, false)}}, limits).rows[0].standing,
        Standing::Ok);
    EXPECT_EQ(care::glance({{listed("hot", "P"), phone(50, false, false, {}, 44.5)}}, limits)
                  .rows[0]
                  .standing,
              Standing::Hot);
}

TEST(Names, AListLineKeepsEveryCharacterButThoseThatWouldStartALine) {
    EXPECT_EQ(cli::listLine({"R58M",
                             DeviceKind::Android,
                             "ready",
                             "Pixel\u2028Fake\tMouse 😀",
                             {},
                             {},
                             {},
                             "Pixel 7"}),
              "R58M\tandroid\tready\tPixel\\u2028Fake\\tMouse 😀\tPixel 7");
}

TEST(Glance, TheDeviceThatNeedsALookIsAWarningElseTheLowestNotChargingElseTheLowest) {
    struct Device {
        double percent;
        bool charging;
        std::optional<double> celsius = {};
        std::optional<double> watts = {};
        bool mains = false;
    };
    const std::pair<std::vector<Device>, int> cases[] = {
        {{}, -1},
        {{{80, false}, {30, true}, {50, false}}, 2},
        {{{80, true}, {30, true}, {50, true}}, 1},
        {{{20, false}, {90, true, 47.0}, {70, false, {}, -2.0, true}}, 1},
        {{{20, false}, {90, false}, {70, false, {}, -2.0, true}}, 2},
        {{{20, false}, {20, false}}, 0},
    };
    for (const auto& [devices, look] : cases) {
        std::vector<care::Watched> watched;
        for (const Device& d : devices)
            watched.push_back({listed(QString::number(watched.size()), "P"),
                               phone(d.percent, d.charging, d.mains, d.watts, d.celsius)});
        const care::Glance g = care::glance(watched, {});
        EXPECT_EQ(g.look, look) << devices.size();
        // The panel draws the device it chose: its charge, its bolt, its warning.
        const std::optional<layout::BatteryIcon> icon = desktop::iconOf(g);
        ASSERT_EQ(icon.has_value(), look >= 0);
        if (icon) {
            const Device& d = devices[std::size_t(look)];
            EXPECT_EQ(icon->percent, d.percent);
            EXPECT_EQ(icon->charging, d.charging);
            EXPECT_EQ(icon->warning, d.celsius || d.watts);
        }
    }
}

TEST(Glance, WaybarsLineIsShortEscapedAndOneLine) {
    std::vector<care::Watched> devices{
        {listed("AA:BB", "Evolve2 65"), peripheral({{"Type", 17u},
                                                    {"Model", QString("Evolve2 65")},
                                                    {"Percentage", 45.0},
                                                    {"State", 2u},
                                                    {"TimeToEmpty", qint64(11400)}})},
        {listed("R58M", "<Tom & Jerry's \"phone\"> of the lab"), phone(9.7, false, false)}};
    EXPECT_EQ(
        care::waybarLine(care::glance(devices, {})),
        "{\"class\":\"low\",\"percentage\":9,\"text\":\"&lt;Tom &amp; Jerry's &quot;phone&quot;"
        "&gt;… 9%\",\"tooltip\":\"Evolve2 65 — 45%, 3 h 10 min left\\n&lt;Tom &amp; "
        "Jerry's &quot;phone&quot;&gt; of the lab — 9%\"}\n");
    EXPECT_EQ(care::waybarLine({}), "{\"class\":\"ok\",\"percentage\":0,\"text\":\"\","
                                    "\"tooltip\":\"No device is attached\"}\n");
    // A lab's devices are counted past twenty, not listed.
    for (const auto& [count, lines, last] :
         {std::tuple{20, 20, "P 19"}, std::tuple{21, 20, "and 2 more"}}) {
        std::vector<care::Watched> many;
        for (int i = 0; i < count; ++i)
            many.push_back({listed(QString::number(i), QStringLiteral("P %1").arg(i)), {}});
        const QStringList said = care::tooltipText(care::glance(many, {})).split(u'\n');
        EXPECT_EQ(said.size(), lines);
        EXPECT_EQ(said.last(), QString::fromLatin1(last));
    }
}

TEST(BatteryIcon, EveryEdgeOnAWholePixelAtEverySizeAndItsStateDrawn) {
    using Tone = layout::BatteryIcon::Tone;
    const QColor green(46, 160, 67), red(224, 27, 36), white(255, 255, 255), orange(230, 97, 0);
    for (const int size : layout::kBatteryIconSizes) {
        const QImage half = layout::drawBatteryIcon({50, false, false, Tone::Good}, size);
        ASSERT_EQ(half.size(), QSize(size, size));
        // Across the body, only the colours it is drawn with: no edge blurred over two pixels.
        const int y = size * 3 / 4;
        QSet<QRgb> across;
        for (int x = 0; x < size; ++x)
            across.insert(half.pixel(x, y));
        EXPECT_TRUE(across.contains(green.rgb()) && across.contains(qRgba(32, 32, 32, 255)));
        // From 32 px there is room for a gap between the outline and the charge.
        EXPECT_EQ(across.contains(qRgba(255, 255, 255, 70)), size >= 32) << size;
        EXPECT_TRUE(
            (across - QSet<QRgb>{qRgba(0, 0, 0, 0), qRgba(255, 255, 255, 230),
                                 qRgba(32, 32, 32, 255), qRgba(255, 255, 255, 70), green.rgb()})
                .isEmpty())
            << size;
        // Filled to the charge, from the bottom.
        const auto filled = [size, green](const QImage& image) {
            int rows = 0;
            for (int row = 0; row < size; ++row)
                rows += image.pixel(size / 2, row) == green.rgb();
            return rows;
        };
        const int full = filled(layout::drawBatteryIcon({100, false, false, Tone::Good}, size));
        EXPECT_GT(full, size / 2) << size;
        EXPECT_NEAR(filled(half), full / 2.0, 1) << size;
        EXPECT_EQ(filled(layout::drawBatteryIcon({0.5, false, false, Tone::Good}, size)), 1);
        int below = 0;
        for (int row = 0; row < size; ++row)
            below = half.pixel(size / 2, row) == green.rgb() ? row + 1 : below;
        while (below < size && half.pixel(size / 2, below) == qRgba(255, 255, 255, 70))
            ++below;
        EXPECT_EQ(half.pixel(size / 2, below), qRgba(32, 32, 32, 255)) << "from the bottom";

        const auto has = [size](const QImage& image, const QColor& colour) {
            for (int x = 0; x < size; ++x) {
                for (int row = 0; row < size; ++row) {
                    if (image.pixelColor(x, row) == colour)
                        return true;
                }
            }
            return false;
        };
        EXPECT_FALSE(has(half, white) || has(half, orange) || has(half, red)) << size;
        EXPECT_TRUE(has(layout::drawBatteryIcon({50, true, false, Tone::Good}, size), white));
        EXPECT_TRUE(has(layout::drawBatteryIcon({50, false, true, Tone::Good}, size), orange));
        EXPECT_TRUE(has(layout::drawBatteryIcon({4, false, false, Tone::Critical}, size), red));
        EXPECT_FALSE(has(layout::drawBatteryIcon({0, false, false, Tone::Critical}, size), red));
    }
}

} // namespace
