// What a refresh's outputs say beyond the window's fields, from outputs written the way devices
// print them: a current phone, an older one, an old tablet, an iPhone, and absurd values.
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_details.h"
#include "device_link/ios/ios_values.h"
#include "fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace adb::command;

// A refresh's outputs, those not given empty (as a command that gave no answer).
std::vector<QByteArray> outputs(std::initializer_list<std::pair<Refresh, QString>> given) {
    std::vector<QByteArray> out(RefreshCount);
    for (const auto& [at, text] : given)
        out[at] = text.toUtf8();
    return out;
}

QString processor(const char* abi, const char* machine, const char* abis, const char* maker,
                  const char* model, const char* cores, const char* release, const char* product,
                  const char* eol = "\n", const char* characteristics = "default") {
    QStringList parts;
    for (const char* part :
         {abi, machine, abis, maker, model, cores, release, product, characteristics})
        parts << QString::fromUtf8(part) + QString::fromLatin1(eol);
    return parts.join("::" + QString::fromLatin1(eol));
}

struct Case {
    const char* name;
    std::vector<QByteArray> outputs;
    DeviceDetails details;
    const char* system;
};

class AndroidDetails : public ::testing::TestWithParam<Case> {};

TEST_P(AndroidDetails, SayWhatTheFieldsDoNot) {
    const DeviceDetails got = adb::parseDetails(GetParam().outputs);
    EXPECT_EQ(got.processor, GetParam().details.processor);
    EXPECT_EQ(got.power, GetParam().details.power);
    EXPECT_EQ(got.memory, GetParam().details.memory);
    EXPECT_EQ(got.storage, GetParam().details.storage);
    EXPECT_EQ(got.screen, GetParam().details.screen);
    // The same readings as values, for a script.
    EXPECT_EQ(got.battery, GetParam().details.battery);
    EXPECT_EQ(got.cpu, GetParam().details.cpu);
    EXPECT_EQ(got.system, GetParam().details.system);
    EXPECT_EQ(adb::systemText(GetParam().outputs[ProcessorAt]), GetParam().system);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, AndroidDetails,
    ::testing::Values(
        Case{"currentPhone",
             outputs({{ProcessorAt, processor("arm64-v8a", "aarch64", "arm64-v8a,armeabi-v7a",
                                              "QTI", "SM8550", "0-7", "14", "dm1q")},
                      // Charging, its current of the other sign.
                      {PowerAt, fixture("dumpsys_battery_android14.txt") +
                                    "::\n::\n::\n-412000\n::\n4100000\n"},
                      {MemoryAt, fixture("meminfo_android14.txt") +
                                     "::\nFilename\t\tType\t\tSize\tUsed\tPriority\n"
                                     "/dev/block/zram0  partition\t4194300\t725504\t-2\n"},
                      {StorageAt, "4096 28671776 17835790 /data f2fs\n4096 1525504 47024 / "
                                  "ext2/ext3\n"},
                      {ScreenAt, fixture("wm_size_override.txt")},
                      {DensityAt, "Physical density: 420\nOverride density: 400\n"}}),
             {{"arm64-v8a, armeabi-v7a; aarch64", "System on chip: QTI SM8550", "8 cores"},
              {"Health: Good", "Temperature: 28.6 °C", "Voltage: 4.19 V", "Technology: Li-ion",
               "Powered by USB", "Charging at 1.7 W (0.41 A at 4.1 V) from a 2.5 W charger"},
              {"Swap: 4,294,963,200 bytes, 3,552,047,104 bytes free",
               "Compressed in memory (zram): /dev/block/zram0"},
              {"Read from /data (f2fs)"},
              {"Shown at 720x1600; the panel is 1080x2400",
               "Density: 400 dpi (the panel's is 420 dpi)"},
              {"Good",
               28.6,
               4.187,
               std::nullopt,
               std::nullopt,
               76.0,
               {},
               {},
               0.412,
               0.412 * 4.1,
               2.5},
              {{"arm64-v8a", "armeabi-v7a"}, "QTI SM8550", 8},
              {"14", "dm1q", "phone"}},
             "Android 14, model dm1q"},
        // Android 4.4 through a terminal: CRLF, no ABI list, no chip, no swap, df -k.
        Case{"olderPhone",
             outputs({{ProcessorAt, processor("armeabi-v7a", "armv7l", "", "", "", "0-3", "4.4.4",
                                              "mako", "\r\n")},
                      {PowerAt, fixture("dumpsys_battery_android4_crlf.txt")},
                      {MemoryAt, fixture("meminfo_android4_crlf.txt")},
                      {StorageAt, "::\r\n" + fixture("df_k_android14.txt")},
                      {ScreenAt, fixture("wm_size_android4_crlf.txt")}}),
             {{"armeabi-v7a; armv7l", "4 cores"},
              {"Health: Good", "Temperature: 25.0 °C", "Voltage: 3.61 V", "Technology: Li-ion"},
              {},
              {"Read from /data"},
              {},
              {"Good", 25.0, 3.611, std::nullopt, std::nullopt, 12.0},
              {{"armeabi-v7a"}, "", 4},
              {"4.4.4", "mako", "phone"}},
             "Android 4.4.4, model mako"},
        Case{"oldTabletWithRoundedStorage",
             outputs({{ProcessorAt, processor("armeabi-v7a", "armv7l", "", "", "", "0", "", "",
                                              "\r\n", "tablet,nosdcard")},
                      {StorageAt, "::\r\n" + fixture("df_toolbox_android4_crlf.txt") + "::\r\n"}}),
             {{"armeabi-v7a; armv7l", "1 core"},
              {},
              {},
              {"Read from /data", "Rounded by the device's df, to about 0.05 of their unit"},
              {},
              {},
              {{"armeabi-v7a"}, "", 1},
              {"", "", "tablet"}},
             ""},
        // A battery that says 0 °C says nothing; volts and microvolts where millivolts belong.
        Case{"absurdValues",
             outputs({{ProcessorAt, processor("", "", "", "", "<b>x</b>", "7-3", "", "grouper")},
                      {PowerAt, "  health: 9\n  temperature: 0\n  voltage: 4\n"
                                "  AC powered: true\n  Dock powered: true\n"},
                      {MemoryAt, "SwapTotal: 0 kB\nSwapFree: 0 kB\n"},
                      {DensityAt, "Physical density: 99999999\n"}}),
             {{"System on chip: <b>x</b>"},
              {"Voltage: 4.00 V", "Powered by AC, Dock"},
              {},
              {},
              {},
              {"", std::nullopt, 4.0, std::nullopt, std::nullopt, std::nullopt},
              {{}, "<b>x</b>", 0},
              {"", "grouper", "phone"}},
             "model grouper"},
        // BatteryManager.BATTERY_HEALTH_COLD, the last code there is.
        Case{"cold",
             outputs({{PowerAt, "  health: 7\n  temperature: -52\n"}}),
             {{},
              {"Health: Cold", "Temperature: -5.2 °C"},
              {},
              {},
              {},
              {"Cold", -5.2, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
              {},
              {}},
             ""},
        // A full battery, and a tablet without one: a charge, and none.
        Case{"full",
             outputs({{PowerAt,
                       "  present: true\n  level: 100\n  scale: 100\n  status: 5\n::\n::\n"}}),
             {{},
              {},
              {},
              {},
              {},
              {"", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 100.0},
              {},
              {}},
             ""},
        Case{"noBattery",
             outputs({{PowerAt, fixture("dumpsys_battery_tablet_no_battery.txt") + "::\n::\n"}}),
             {{},
              {"Health: Unknown", "Powered by AC"},
              {},
              {},
              {},
              {"Unknown", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
              {},
              {}},
             ""},
        Case{"microvolts",
             outputs({{PowerAt, "  voltage: 4123000\n  temperature: 1500\n"}}),
             {{},
              {"Voltage: 4.12 V"},
              {},
              {},
              {},
              {"", std::nullopt, 4.123, std::nullopt, std::nullopt, std::nullopt},
              {},
              {}},
             ""},
        Case{"nothingAnswered", outputs({}), {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IphoneDetails, FromTheDomainsAndTheBatteryRegistry) {
    ios::Domains d;
    d.general = {{"CPUArchitecture", "arm64e"},
                 {"HardwareModel", "D73AP"},
                 {"ProductVersion", "17.5"},
                 {"ProductType", "iPhone15,2"},
                 {"DeviceClass", "iPhone"}};
    d.battery = {{"FullyCharged", false}, {"ExternalChargeCapable", true}};
    d.disk = {{"TotalDataCapacity", 111592116224LL},
              {"AmountDataAvailable", 61354827776LL},
              {"TotalDiskCapacity", 128000000000LL}};
    d.itunes = {{"ScreenScaleFactor", 3}};
    d.batteryRegistry = {{"CycleCount", 212}, {"Temperature", 2950}, {"Voltage", 3912}};
    const DeviceDetails got = ios::details(d);
    EXPECT_EQ(got.processor, QStringList{"arm64e; hardware model D73AP"});
    EXPECT_EQ(got.power,
              (QStringList{"Fully charged: no", "Can charge from what it is plugged into: yes",
                           "Charge cycles: 212", "Temperature: 29.5 °C", "Voltage: 3.91 V"}));
    EXPECT_EQ(got.storage, (QStringList{"Read from the data partition",
                                        "The whole disk: 128,000,000,000 bytes"}));
    EXPECT_EQ(got.screen, QStringList{"Scale factor: 3 (points to pixels)"});
    EXPECT_TRUE(got.memory.isEmpty());
    EXPECT_EQ(ios::systemText(d.general), "iOS 17.5, model iPhone15,2");
    EXPECT_EQ(got.system, (SystemFacts{"17.5", "iPhone15,2", "phone"}));
    EXPECT_FALSE(got.battery.percent.has_value()) << "the battery domain gives no charge";
    d.battery.insert("BatteryCurrentCapacity", 100);
    d.battery.insert("HasBattery", true);
    EXPECT_EQ(ios::details(d).battery.percent, 100.0);
    d.battery.insert("BatteryCurrentCapacity", 150);
    EXPECT_FALSE(ios::details(d).battery.percent.has_value()) << "no charge past 100%";
    d.battery.insert("BatteryCurrentCapacity", 100);
    d.battery.insert("HasBattery", false);
    EXPECT_FALSE(ios::details(d).battery.percent.has_value()) << "no battery, no charge";

    // Absurd registry values say nothing; an iPad from 13 on runs iPadOS.
    d.batteryRegistry = {{"Temperature", 0}, {"Voltage", 4}, {"CycleCount", -1}};
    d.itunes = {{"ScreenScaleFactor", "lots"}};
    EXPECT_EQ(ios::details(d).power.size(), 2);
    EXPECT_TRUE(ios::details(d).screen.isEmpty());
    EXPECT_EQ(ios::systemText({}), "");
}

// iPadOS begins at 13; an iPad on 12 and earlier, and any iPhone, runs iOS.
TEST(IphoneDetails, AnIpadFromThirteenOnRunsIpados) {
    const struct {
        const char* deviceClass;
        const char* version;
        const char* says;
    } cases[] = {
        {"iPad", "13.0", "iPadOS 13.0"},     {"iPad", "13", "iPadOS 13"},
        {"iPad", "16.7.8", "iPadOS 16.7.8"}, {"iPad", "12.5.7", "iOS 12.5.7"},
        {"iPad", "9.3.5", "iOS 9.3.5"},      {"iPhone", "17.5", "iOS 17.5"},
        {"iPhone", "13.1", "iOS 13.1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ios::systemText({{"DeviceClass", c.deviceClass}, {"ProductVersion", c.version}}),
                  c.says);
    }
}

} // namespace
