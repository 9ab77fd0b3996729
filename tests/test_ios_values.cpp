// What an iPhone's lockdownd dictionaries mean to the window, from dictionaries written the way
// devices answer: keys missing on older iOS, numbers as strings, absurd values.
#include "device_link/ios/ios_values.h"
#include "device_link/ios/lockdown_session.h"
#include "qt_printers.h"

#include <QThread>
#include <QThreadPool>
#include <plist/plist.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include <gtest/gtest.h>

namespace {

// A domain as the device sends it, through the same conversion the link uses.
QVariantMap dict(const char* xmlBody) {
    const QByteArray xml = QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist "
                                      "version=\"1.0\"><dict>") +
                           xmlBody + "</dict></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    const QVariantMap map = ios::toVariant(node).toMap();
    plist_free(node);
    return map;
}

struct StorageCase {
    const char* name;
    const char* disk;
    std::optional<std::pair<double, double>> shown;
};

class IosStorage : public ::testing::TestWithParam<StorageCase> {};

TEST_P(IosStorage, TotalAndFree) {
    const auto storage = ios::storage(dict(GetParam().disk));
    ASSERT_EQ(storage.has_value(), GetParam().shown.has_value());
    if (storage) {
        EXPECT_EQ(storage->total, GetParam().shown->first);
        EXPECT_EQ(storage->remaining, GetParam().shown->second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, IosStorage,
    ::testing::Values(StorageCase{"ios17", // TotalDataAvailable counts purgeable space
                                  "<key>TotalDataCapacity</key><integer>111592116224</integer>"
                                  "<key>TotalDataAvailable</key><integer>98765430784</integer>"
                                  "<key>AmountDataAvailable</key><integer>61354827776</integer>",
                                  std::pair{111592116224.0, 61354827776.0}},
                      StorageCase{"older, no AmountDataAvailable",
                                  "<key>TotalDataCapacity</key><integer>52776558592</integer>"
                                  "<key>TotalDataAvailable</key><integer>20512096256</integer>",
                                  std::pair{52776558592.0, 20512096256.0}},
                      StorageCase{"numbers as strings",
                                  "<key>TotalDataCapacity</key><string>1000</string>"
                                  "<key>AmountDataAvailable</key><string> 250 </string>",
                                  std::pair{1000.0, 250.0}},
                      StorageCase{"no capacity",
                                  "<key>AmountDataAvailable</key><integer>5</integer>",
                                  std::nullopt},
                      StorageCase{"zero capacity",
                                  "<key>TotalDataCapacity</key><integer>0</integer>"
                                  "<key>AmountDataAvailable</key><integer>0</integer>",
                                  std::nullopt},
                      StorageCase{"more free than there is",
                                  "<key>TotalDataCapacity</key><integer>10</integer>"
                                  "<key>AmountDataAvailable</key><integer>11</integer>",
                                  std::nullopt},
                      StorageCase{"negative (libplist's unsigned -1)",
                                  "<key>TotalDataCapacity</key><integer>10</integer>"
                                  "<key>AmountDataAvailable</key><integer>-1</integer>",
                                  std::nullopt},
                      StorageCase{"a date where a number belongs",
                                  "<key>TotalDataCapacity</key><date>2024-01-01T00:00:00Z</date>"
                                  "<key>AmountDataAvailable</key><integer>1</integer>",
                                  std::nullopt}),
    [](const auto& info) { return std::to_string(info.index); });

struct PowerCase {
    const char* name;
    const char* battery;
    const char* registry;
    std::optional<device::PowerStatus> shown;
    qint32 mains;
};

class IosPower : public ::testing::TestWithParam<PowerCase> {};

TEST_P(IosPower, StatusChargeTimesAndMains) {
    const QVariantMap battery = dict(GetParam().battery);
    const auto power = ios::power(battery, dict(GetParam().registry));
    ASSERT_EQ(power.has_value(), GetParam().shown.has_value());
    if (power) {
        EXPECT_EQ(power->flag, GetParam().shown->flag);
        EXPECT_EQ(power->percent, GetParam().shown->percent);
        EXPECT_EQ(power->lifeTime, GetParam().shown->lifeTime);
        EXPECT_EQ(power->fullLifeTime, GetParam().shown->fullLifeTime);
    }
    EXPECT_EQ(ios::mainsStatus(battery), GetParam().mains);
}

constexpr double kUnknown = 4294967295.0;

INSTANTIATE_TEST_SUITE_P(
    Batteries, IosPower,
    ::testing::Values(PowerCase{"on battery",
                                "<key>BatteryCurrentCapacity</key><integer>81</integer>"
                                "<key>BatteryIsCharging</key><false/><key>HasBattery</key><true/>"
                                "<key>ExternalConnected</key><false/>",
                                "", device::PowerStatus{1, 81, kUnknown, kUnknown}, 0},
                      PowerCase{"charging, with registry times in minutes",
                                "<key>BatteryCurrentCapacity</key><integer>40</integer>"
                                "<key>BatteryIsCharging</key><true/><key>HasBattery</key><true/>"
                                "<key>ExternalConnected</key><true/>",
                                "<key>AvgTimeToEmpty</key><integer>65535</integer>"
                                "<key>AvgTimeToFull</key><integer>95</integer>",
                                device::PowerStatus{8, 40, kUnknown, 5700}, 1},
                      PowerCase{"full on mains still says charging",
                                "<key>BatteryCurrentCapacity</key><integer>100</integer>"
                                "<key>BatteryIsCharging</key><true/><key>FullyCharged</key><true/>"
                                "<key>ExternalConnected</key><true/>",
                                "<key>AvgTimeToEmpty</key><integer>600</integer>",
                                device::PowerStatus{1, 100, 36000, kUnknown}, 1},
                      PowerCase{"low and critical",
                                "<key>BatteryCurrentCapacity</key><integer>12</integer>", "",
                                device::PowerStatus{2, 12, kUnknown, kUnknown}, 255},
                      PowerCase{"absurd charge",
                                "<key>BatteryCurrentCapacity</key><integer>180</integer>", "",
                                device::PowerStatus{255, 255, kUnknown, kUnknown}, 255},
                      PowerCase{"no battery", "<key>HasBattery</key><false/>", "",
                                device::PowerStatus{128, 255, kUnknown, kUnknown}, 255},
                      PowerCase{"strings and numbers for truth",
                                "<key>BatteryCurrentCapacity</key><string>5</string>"
                                "<key>BatteryIsCharging</key><integer>0</integer>"
                                "<key>ExternalConnected</key><string>true</string>",
                                "", device::PowerStatus{4, 5, kUnknown, kUnknown}, 1},
                      PowerCase{"nothing of a battery", "<key>Other</key><integer>1</integer>", "",
                                std::nullopt, 255}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(IosValues, ScreenProcessorAndName) {
    EXPECT_EQ(ios::screenSize(dict("<key>ScreenWidth</key><integer>1179</integer>"
                                   "<key>ScreenHeight</key><integer>2556</integer>")),
              QSize(1179, 2556));
    for (const char* absurd : {"<key>ScreenWidth</key><integer>1179</integer>",
                               "<key>ScreenWidth</key><integer>0</integer>"
                               "<key>ScreenHeight</key><integer>2556</integer>",
                               "<key>ScreenWidth</key><real>10.5</real>"
                               "<key>ScreenHeight</key><integer>2556</integer>",
                               "<key>ScreenWidth</key><integer>-1</integer>"
                               "<key>ScreenHeight</key><integer>2556</integer>"})
        EXPECT_FALSE(ios::screenSize(dict(absurd)).isValid()) << absurd;

    // The same codes as an Android device of the same family.
    EXPECT_EQ(ios::processorCode(dict("<key>CPUArchitecture</key><string>arm64e</string>")), 43620);
    EXPECT_EQ(ios::processorCode(dict("<key>CPUArchitecture</key><string>armv7s</string>")), 452);
    EXPECT_EQ(ios::processorCode(dict("<key>CPUArchitecture</key><integer>7</integer>")), 0);

    EXPECT_EQ(ios::deviceName(dict("<key>DeviceName</key><string> Ana&apos;s iPhone "
                                   "</string>")),
              " Ana's iPhone ");
    EXPECT_EQ(ios::deviceName(dict("<key>DeviceName</key><integer>5</integer>")), "");
}

TEST(IosValues, DeeplyNestedAnswersAreCutNotFollowed) {
    QByteArray body = "<key>a</key>";
    for (int i = 0; i < 200; ++i)
        body += "<array>";
    body += "<integer>1</integer>";
    for (int i = 0; i < 200; ++i)
        body += "</array>";
    const QVariantMap map = dict(body.constData());
    QVariant node = map.value("a");
    int depth = 0;
    while (node.typeId() == QMetaType::QVariantList && !node.toList().isEmpty()) {
        node = node.toList().first();
        ++depth;
    }
    EXPECT_LE(depth, 17);
}

// A binary plist can carry a NUL inside a key or a string, where libplist 2.2's getters
// assert; a fuzzer found both.
TEST(IosValues, KeysAndStringsWithANulInsideAreReadNotAsserted) {
    const unsigned char bplist[] = {
        'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD1, 1, 2, 0x53, 'a', 0, 'b', 0x53, 'c', 0,
        'd', 8,   11,  15,  0,   0,   0,   0,   0,    0, 1, 1,    0,   0, 0,   0,    0,   0,
        0,   3,   0,   0,   0,   0,   0,   0,   0,    0, 0, 0,    0,   0, 0,   0,    0,   19};
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bplist), sizeof bplist, &node);
    ASSERT_NE(node, nullptr);
    const QVariantMap map = ios::toVariant(node).toMap();
    plist_free(node);
    EXPECT_EQ(map, (QVariantMap{{"a", "c"}}));
}

// The battery's current, signed mA whichever way it arrives, and the adapter's watts.
TEST(IosValues, PowerFlowFromTheBatterysRegistryEntry) {
    const char* const charging = "<key>BatteryIsCharging</key><true/>"
                                 "<key>ExternalConnected</key><true/>"
                                 "<key>BatteryCurrentCapacity</key><integer>60</integer>";
    const char* const adapter = "<key>AdapterDetails</key><dict><key>Watts</key><integer>20"
                                "</integer><key>Description</key><string>pd charger</string>"
                                "</dict><key>Voltage</key><integer>4100</integer>";
    const struct {
        const char* battery;
        std::string registry;
        const char* says; // the power details' last two lines
    } cases[] = {
        {charging, std::string(adapter) + "<key>InstantAmperage</key><integer>1850</integer>",
         "Charging at 7.6 W (1.85 A at 4.1 V) from a 20 W charger; Charger: pd charger"},
        // Amperage where there is no instant one; 32 bits read as unsigned wrap.
        {"<key>BatteryIsCharging</key><false/><key>ExternalConnected</key><true/>",
         std::string(adapter) + "<key>Amperage</key><integer>4294966796</integer>",
         "Losing 2.0 W while plugged in: the charger or port cannot keep up; Charger: pd charger"},
        {"<key>ExternalConnected</key><false/>",
         std::string(adapter) + "<key>InstantAmperage</key><integer>18446744073709551116</integer>",
         "Voltage: 4.10 V; Discharging at 2.0 W (0.50 A at 4.1 V)"},
        {charging, "<key>InstantAmperage</key><integer>-2147483648</integer>", ""},
        {charging, "<key>InstantAmperage</key><string>lots</string>", ""},
    };
    for (const auto& c : cases) {
        ios::Domains d;
        d.battery = dict(c.battery);
        d.batteryRegistry = dict(c.registry.c_str());
        const QStringList lines = ios::details(d).power;
        EXPECT_EQ(lines.mid(std::max<qsizetype>(0, lines.size() - 2)).join(QStringLiteral("; ")),
                  QString::fromUtf8(c.says))
            << c.registry;
    }
}

struct HealthCase {
    const char* name;
    const char* registry;
    const char* says; // empty: no health line
};

class IosBatteryHealth : public ::testing::TestWithParam<HealthCase> {};

TEST_P(IosBatteryHealth, FromMilliampHoursNeverFromPercentages) {
    const auto capacity = ios::batteryCapacity(dict(GetParam().registry));
    EXPECT_EQ(capacity ? device::capacityText(*capacity) : QString(),
              QString::fromUtf8(GetParam().says));
}

INSTANTIATE_TEST_SUITE_P(
    Registries, IosBatteryHealth,
    ::testing::Values(
        // iOS 17: MaxCapacity and CurrentCapacity are percentages beside the mAh figures.
        HealthCase{"nominal",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>NominalChargeCapacity</key><integer>2850</integer>"
                   "<key>AppleRawMaxCapacity</key><integer>2874</integer>"
                   "<key>MaxCapacity</key><integer>100</integer>"
                   "<key>CurrentCapacity</key><integer>81</integer>",
                   "Maximum capacity: 87% of its design (2,850 of 3,279 mAh)"},
        HealthCase{"rawOnly",
                   "<key>DesignCapacity</key><integer>8134</integer>"
                   "<key>AppleRawMaxCapacity</key><integer>7606</integer>"
                   "<key>MaxCapacity</key><integer>7606</integer>",
                   "Maximum capacity: 94% of its design (7,606 of 8,134 mAh)"},
        HealthCase{"rawWithoutNominal",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>AppleRawMaxCapacity</key><integer>2874</integer>",
                   "Maximum capacity: 88% of its design (2,874 of 3,279 mAh)"},
        // iOS 18: the design figure only inside BatteryData.
        HealthCase{"designInBatteryData",
                   "<key>BatteryData</key><dict><key>DesignCapacity</key><integer>3349</integer>"
                   "</dict><key>NominalChargeCapacity</key><integer>3262</integer>",
                   "Maximum capacity: 97% of its design (3,262 of 3,349 mAh)"},
        HealthCase{"newBatteryAboveItsDesign",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>NominalChargeCapacity</key><string>3400</string>",
                   "Maximum capacity: 104% of its design (3,400 of 3,279 mAh)"},
        // Only percentages: nothing to say.
        HealthCase{"percentagesOnly",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>MaxCapacity</key><integer>100</integer>"
                   "<key>CurrentCapacity</key><integer>81</integer>",
                   ""},
        HealthCase{"noDesign", "<key>NominalChargeCapacity</key><integer>2850</integer>", ""},
        HealthCase{"designTooSmall",
                   "<key>DesignCapacity</key><integer>100</integer>"
                   "<key>NominalChargeCapacity</key><integer>90</integer>",
                   ""},
        HealthCase{"designTooLarge",
                   "<key>DesignCapacity</key><integer>60000</integer>"
                   "<key>NominalChargeCapacity</key><integer>50000</integer>",
                   ""},
        HealthCase{"worn past belief",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>NominalChargeCapacity</key><integer>600</integer>",
                   ""},
        HealthCase{"aboveDesignPastBelief",
                   "<key>DesignCapacity</key><integer>3279</integer>"
                   "<key>NominalChargeCapacity</key><integer>4300</integer>",
                   ""},
        HealthCase{"notANumber",
                   "<key>DesignCapacity</key><string>lots</string>"
                   "<key>NominalChargeCapacity</key><integer>2850</integer>",
                   ""}),
    [](const auto& info) { return QString::fromUtf8(info.param.name).remove(u' ').toStdString(); });

} // namespace

// The program's end waits for a handle still open and for work on Qt's thread pool, whose
// sockets need the application, and is told as soon as both are done; its status is handed on.
TEST(IosSessions, TheEndWaitsForEveryHandleAndThePoolsWorkAndNoLonger) {
    auto handle = std::make_unique<ios::DeviceHandle>("00008110-001A2B3C4D5E801E");
    std::atomic<bool> pooled = false;
    QThreadPool::globalInstance()->start([&pooled] {
        QThread::msleep(400);
        pooled = true;
    });
    auto waiting = std::async(std::launch::async,
                              [] { return device::endProgram(3, std::chrono::seconds(20)); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "a handle is still open";
    handle.reset();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "told at once, not at the bound";
    EXPECT_EQ(waiting.get(), 3);
    EXPECT_TRUE(pooled);
}
