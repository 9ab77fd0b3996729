#include "device_link/adb/adb_parsers.h"
#include "device_link/adb/wifi.h"
#include "fixture.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace adb;

TEST(DeviceList, ReadsShortAndLongFormsAndSkipsJunk) {
    const std::vector<Device> devices = parseDeviceList(fixture("devices_l.txt"));
    const std::vector<Device> expected{{"0123456789ABCDEF", "device", "Pixel 7a", true},
                                       {"192.168.1.23:5555", "offline", "", false},
                                       {"emulator-5554", "unauthorized", "", true},
                                       {"R58M12ABCDE", "no permissions", "", true}};
    EXPECT_EQ(devices, expected);
    EXPECT_EQ(parseDeviceList(u"* daemon not running; starting now at tcp:5037\r\n"
                              u"emulator-5554\tdevice\r\nweird-line\n\nserial2\tbootloader"),
              (std::vector<Device>{{"emulator-5554", "device", "", false},
                                   {"serial2", "bootloader", "", false}}));
    EXPECT_TRUE(parseDeviceList(u"").empty());
}

TEST(Sections, SplitAtMarkerLines) {
    const QStringList parts = splitSections(u"a\r\n::\r\nb\nc\n::\n", 3);
    EXPECT_EQ(parts, (QStringList{"a\n", "b\nc\n", ""}));
    EXPECT_EQ(splitSections(u"only", 2), (QStringList{"only\n", ""}));
    EXPECT_EQ(splitSections(u"a\n::\nb\n::\nc\n::\nd", 2), (QStringList{"a\n", "b\n"}));
}

TEST(Meminfo, CurrentKernelsReportMemAvailable) {
    const auto counts = parseMeminfo(fixture("meminfo_android14.txt"));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->total, 7965752.0 * 1024);
    EXPECT_EQ(counts->remaining, 3232860.0 * 1024);
}

TEST(Meminfo, OlderKernelsAddFreeBuffersAndCached) {
    const auto counts = parseMeminfo(fixture("meminfo_android4_crlf.txt"));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->total, 828408.0 * 1024);
    EXPECT_EQ(counts->remaining, (24560.0 + 10172.0 + 287048.0) * 1024);
}

TEST(Meminfo, WithoutATotalThereIsNothing) {
    EXPECT_FALSE(parseMeminfo(u"MemFree: 100 kB\n"));
    EXPECT_FALSE(parseMeminfo(u"MemTotal: lots kB\nMemAvailable: 1 kB\n"));
    EXPECT_FALSE(parseMeminfo(u"/system/bin/sh: cat: /proc/meminfo: Permission denied\n"));
}

TEST(Storage, StatFsGivesTheDataFileSystemFirst) {
    const auto counts = parseStatFs(fixture("stat_f_data.txt"));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->total, 4096.0 * 28672000);
    EXPECT_EQ(counts->remaining, 4096.0 * 17301504);
    EXPECT_FALSE(parseStatFs(u"stat: bad -f\n"));
    EXPECT_FALSE(parseStatFs(u"4096 0 0\n"));
}

TEST(Storage, DfPrefersDataOverRoot) {
    const auto data = parseDfK(fixture("df_k_android14.txt"));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->total, 114687104.0 * 1024);
    EXPECT_EQ(data->remaining, 71343160.0 * 1024);
    const auto root = parseDfK(fixture("df_k_root_only_no_newline.txt"));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->total, 2031440.0 * 1024);
    EXPECT_FALSE(parseDfK(u"Filesystem Size Used Free Blksize\n/data 12.9G 3.2G 9.7G 4096\n"));
}

struct AbiCase {
    const char* abi;
    const char* machine;
    qint32 code;
};

class Processors : public ::testing::TestWithParam<AbiCase> {};

TEST_P(Processors, MapToCodes) {
    EXPECT_EQ(
        processorCode(QString::fromLatin1(GetParam().abi), QString::fromLatin1(GetParam().machine)),
        GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Processors,
    ::testing::Values(AbiCase{"x86_64\n", "", 586}, AbiCase{"x86", "", 586},
                      AbiCase{"", "i686\r\n", 586}, AbiCase{"arm64-v8a", "aarch64", 43620},
                      AbiCase{"armeabi-v7a\r\n", "", 452}, AbiCase{"", "armv7l", 452},
                      AbiCase{"riscv64", "", 20580}, AbiCase{"", "", 0}, AbiCase{"sparc", "", 0}));

TEST(Battery, ChargingPhone) {
    const auto power = parseBattery(fixture("dumpsys_battery_android14.txt"), u"", u"5400\n");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->flag, 8);
    EXPECT_EQ(power->percent, 76);
    EXPECT_EQ(power->lifeTime, 4294967295.0);
    EXPECT_EQ(power->fullLifeTime, 5400);
}

TEST(Battery, OldPhoneWithUpdatesStoppedAndLowLevel) {
    const auto power =
        parseBattery(fixture("dumpsys_battery_android4_crlf.txt"), u"0\n7200\n", u"");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->flag, 2);
    EXPECT_EQ(power->percent, 12);
    EXPECT_EQ(power->lifeTime, 7200);
}

TEST(Battery, TabletWithoutBattery) {
    const auto power = parseBattery(fixture("dumpsys_battery_tablet_no_battery.txt"), u"", u"");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->flag, 128);
}

struct LevelCase {
    const char* text;
    double flag, percent;
};

class BatteryLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(BatteryLevels, FlagFollowsTheLevel) {
    const auto power = parseBattery(QString::fromLatin1(GetParam().text), u"", u"");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->flag, GetParam().flag);
    EXPECT_EQ(power->percent, GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatteryLevels,
    ::testing::Values(LevelCase{"level: 5\n", 4, 5}, LevelCase{"level: 6\n", 2, 6},
                      LevelCase{"level: 15\n", 2, 15}, LevelCase{"level: 16\n", 1, 16},
                      LevelCase{"level: 50\nscale: 200\n", 1, 25},
                      LevelCase{"level: 3\nscale: 0\n", 4, 3}, LevelCase{"status: 3\n", 255, 255},
                      LevelCase{"present: true\nlevel: full\n", 255, 255}));

TEST(Battery, NoFieldsIsNoAnswer) {
    EXPECT_FALSE(parseBattery(u"Can't find service: battery\n", u"", u""));
    EXPECT_FALSE(parseBattery(u"", u"100", u"100"));
}

// What flows, as each maker prints it: "current|volts|charger", then the words the details say.
TEST(PowerFlow, EachMakersHabitReadsHonestly) {
    const QString plugged = "  USB powered: true\n  Max charging current: 3000000\n"
                            "  Max charging voltage: 9000000\n";
    const struct {
        const char* name;
        QString dumpsys, currentNow, voltageNow;
        const char* reads;
        const char* says;
    } cases[] = {
        {"AOSP charging", plugged + "  status: 2\n", "1850000\n", "4100000\n", "1.85|4.1|27",
         "Charging at 7.6 W (1.85 A at 4.1 V) from a 27 W charger"},
        {"the other sign", plugged + "  status: 2\n", "-1850000", "4100000", "1.85|4.1|27",
         "Charging at 7.6 W (1.85 A at 4.1 V) from a 27 W charger"},
        {"a 0.5 A port that cannot keep up",
         "  USB powered: true\r\n  Max charging current: 500000\r\n"
         "  Max charging voltage: 5000000\r\n  status: 3\r\n",
         "487000\r\n", "3900000\r\n", "-0.487|3.9|2.5",
         "Losing 1.9 W while plugged in: the charger or port cannot keep up"},
        {"on battery", "  USB powered: false\n  status: 3\n", "-300000", "3800000", "-0.3|3.8|-",
         "Discharging at 1.1 W (0.30 A at 3.8 V)"},
        {"Samsung: sysfs refused, mA in dumpsys", plugged + "  status: 2\n  current now: 450\n", "",
         "", "0.45|-|27", "Charging at 0.45 A from a 27 W charger"},
        {"sysfs first", plugged + "  status: 2\n  current now: 450\n", "900000", "", "0.9|-|27",
         "Charging at 0.90 A from a 27 W charger"},
        {"full: the device's sign stands, and a float is no drain", plugged + "  status: 5\n",
         "-12000", "4350000", "-0.012|4.35|27", "Almost nothing flows into or out of the battery"},
        {"none flowing is never -0", "  status: 3\n", "\n+0\n", "4000000", "0|4|-",
         "Almost nothing flows into or out of the battery"},
        {"a product past belief", "  status: 2\n", "25000000", "60000000", "25|60|-",
         "Charging at 25.00 A"},
        {"INT_MIN is unsupported", plugged + "  status: 2\n", "-2147483648", "4100000", "-|4.1|27",
         "Plugged into a 27 W charger"},
        {"absurd", plugged + "  status: 2\n  current now: 99999999\n", "", "4100", "-|-|27",
         "Plugged into a 27 W charger"},
        {"junk", plugged + "  status: 2\n", "cat: Permission denied\n12", "4.1 V", "-|-|27",
         "Plugged into a 27 W charger"},
        {"a charger of 0, or next to it",
         "  AC powered: true\n  Max charging current: 1\n  status: 2\n"
         "  Max charging voltage: 1\n",
         "1000000", "4000000", "1|4|-", "Charging at 4.0 W (1.00 A at 4.0 V)"},
        {"unplugged: its last charger is none",
         "  USB powered: false\n  Max charging current: 500000\n  Max charging voltage: "
         "5000000\n  status: 3",
         "", "", "-|-|-", ""},
        {"refuses both", "  AC powered: false\n  status: 3\n", "", "", "-|-|-", ""},
    };
    const auto shown = [](const std::optional<double>& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    for (const auto& c : cases) {
        const device::PowerFlow flow = parsePowerFlow(c.dumpsys, c.currentNow, c.voltageNow);
        EXPECT_EQ(QStringList({shown(flow.currentA), shown(flow.voltageV), shown(flow.chargerW)})
                      .join(u'|'),
                  c.reads)
            << c.name;
        EXPECT_EQ(device::flowText(flow, parseMainsStatus(c.dumpsys) == 1), c.says) << c.name;
    }
}

TEST(BatteryHealth, LearnedOverEstimatedAsBatterystatsPrintsThem) {
    const struct {
        const char* name;
        QString text;
        const char* says; // empty: no health line
    } cases[] = {
        {"grep's two lines", fixture("batterystats_grep_android14.txt"),
         "Maximum capacity: 96% of its design (6,209 of 6,500 mAh)"},
        {"crlf, no last newline",
         "  Estimated battery capacity: 4385 mAh\r\n  Last learned battery capacity: 4012 mAh",
         "Maximum capacity: 91% of its design (4,012 of 4,385 mAh)"},
        {"in the dump, after junk",
         "Battery History (2% used):\n  Time on battery: 5h\n"
         "  Last learned battery capacity: 3870 mAh\n  Min learned battery capacity: 3810 mAh\n"
         "  Estimated battery capacity: 4500 mAh\n",
         "Maximum capacity: 86% of its design (3,870 of 4,500 mAh)"},
        {"no learned figure", "  Estimated battery capacity: 2300 mAh\n", ""},
        {"no estimate", "  Last learned battery capacity: 2300 mAh\n", ""},
        // makemAh's decimals below 100 mAh: an estimate not yet made.
        {"tiny estimate",
         "  Estimated battery capacity: 4.00 mAh\n  Last learned battery capacity: 4012 mAh\n", ""},
        {"zero learned",
         "  Estimated battery capacity: 4385 mAh\n  Last learned battery capacity: 0 mAh\n", ""},
        {"absurd learned",
         "  Estimated battery capacity: 7040 mAh\n  Last learned battery capacity: 12 mAh\n", ""},
        {"no grep", "/system/bin/sh: grep: not found\n", ""},
        // The dump's "since last charge" section comes first; a later one counts for nothing.
        {"two sections",
         "  Estimated battery capacity: 4385 mAh\n  Last learned battery capacity: 4012 mAh\n"
         "  Estimated battery capacity: 5000 mAh\n  Last learned battery capacity: 2000 mAh\n",
         "Maximum capacity: 91% of its design (4,012 of 4,385 mAh)"},
    };
    for (const auto& c : cases) {
        const auto capacity = parseBatteryCapacity(c.text);
        EXPECT_EQ(capacity ? device::capacityText(*capacity) : QString(), QString::fromUtf8(c.says))
            << c.name;
    }
}

TEST(Mains, AnyPoweredLineCounts) {
    EXPECT_EQ(parseMainsStatus(fixture("dumpsys_battery_android14.txt")), 1);
    EXPECT_EQ(parseMainsStatus(fixture("dumpsys_battery_android4_crlf.txt")), 0);
    EXPECT_EQ(parseMainsStatus(fixture("dumpsys_battery_tablet_no_battery.txt")), 1);
    EXPECT_EQ(parseMainsStatus(u"Can't find service: battery\n"), 255);
    EXPECT_EQ(parseMainsStatus(u"  AC powered: maybe\n"), 255);
}

struct StorageCase {
    const char* name;
    QString output; // the storage command's whole output
    std::optional<std::pair<double, double>> counts;
};

class StorageFallbacks : public ::testing::TestWithParam<StorageCase> {};

TEST_P(StorageFallbacks, ExactSourcesFirstThenRoundedSizes) {
    const auto storage = parseStorage(GetParam().output);
    ASSERT_EQ(storage.has_value(), GetParam().counts.has_value());
    if (storage) {
        EXPECT_EQ(storage->counts.total, GetParam().counts->first);
        EXPECT_EQ(storage->counts.remaining, GetParam().counts->second);
        const QString name = QString::fromUtf8(GetParam().name);
        EXPECT_EQ(storage->rounded, name.startsWith("rounded") || name.startsWith("whole") ||
                                        name.startsWith("moreFree"));
    }
}

const double G = 1024.0 * 1024 * 1024, M = 1024.0 * 1024;

INSTANTIATE_TEST_SUITE_P(
    OldDevices, StorageFallbacks,
    ::testing::Values(
        StorageCase{"statFsWinsAndNothingElseRan", fixture("stat_f_data.txt"),
                    std::pair{4096.0 * 28672000, 4096.0 * 17301504}},
        // Toolbox df, CRLF, denied rows, a shifted long mount; diskstats exact in KiB.
        StorageCase{"diskstatsOverRoundedSizes",
                    "::\r\n" + fixture("df_toolbox_android4_crlf.txt") + "::\r\n" +
                        fixture("diskstats_android4_crlf.txt"),
                    std::pair{2064208.0 * 1024, 1123448.0 * 1024}},
        StorageCase{"roundedSizesWithoutDiskstats",
                    "::\r\n" + fixture("df_toolbox_android4_crlf.txt") + "::\r\n",
                    std::pair{std::round(2.3 * G), std::round(1.1 * G)}},
        StorageCase{"wholeNumbersAndNoDataRow",
                    "::\n" + fixture("df_toolbox_whole_numbers_no_data.txt"),
                    std::pair{492 * M, 200 * M}},
        StorageCase{"android2ExactKilobytes", "::\n" + fixture("df_toolbox_android2.txt"),
                    std::pair{1523712.0 * 1024, 311280.0 * 1024}},
        StorageCase{"modernDfBeforeDiskstats",
                    "::\n" + fixture("df_k_android14.txt") + "::\n" +
                        fixture("diskstats_android4_crlf.txt"),
                    std::pair{114687104.0 * 1024, 71343160.0 * 1024}},
        StorageCase{"deniedEverywhere",
                    "::\n/data: Permission denied\n/: Permission denied\n::\nCan't find "
                    "service: diskstats\n",
                    std::nullopt},
        StorageCase{"moreFreeThanThereIs", "::\n/data 1.0G 0.0K 2.0G 4096\n/ 1.0M 0.5M 0.5M 4096",
                    std::pair{M, 0.5 * M}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Storage, RoundedSizesStandForTheirBytes) {
    EXPECT_EQ(parseRoundedSize(u"2.3G"), std::round(2.3 * G));
    EXPECT_EQ(parseRoundedSize(u"919.5M"), std::round(919.5 * M));
    EXPECT_EQ(parseRoundedSize(u"56G"), 56 * G);
    EXPECT_EQ(parseRoundedSize(u"0.0K"), 0.0);
    EXPECT_EQ(parseRoundedSize(u"1.5T"), 1.5 * 1024 * G);
    for (const char16_t* junk : {u"2.3", u"G", u"-1.0G", u"2,3G", u"1.2.3M", u"4096"})
        EXPECT_FALSE(parseRoundedSize(junk)) << QString::fromUtf16(junk).toStdString();
}

TEST(Screen, DumpsysWindowBeforeWmSize) {
    // Android 4.1 with "am display-size": the override (base) wins over the panel (init).
    EXPECT_EQ(parseScreen("::\r\n" + fixture("dumpsys_window_android41_override_crlf.txt")),
              QSize(600, 960));
    EXPECT_EQ(parseScreen("::\n" + fixture("dumpsys_window_android23.txt")), QSize(480, 800));
    EXPECT_EQ(parseScreen(u"::\n  init=720x1280 cur=1280x720 app=1280x672\n"), QSize(720, 1280));
    EXPECT_EQ(parseScreen(fixture("wm_size_override.txt")), QSize(720, 1600));
    EXPECT_FALSE(parseScreen(u"::\nCan't find service: window\n").isValid());
    EXPECT_FALSE(parseScreen(u"::\n  preinit=720x1280\n").isValid());
}

TEST(WmSize, OverrideOverPhysical) {
    EXPECT_EQ(parseWmSize(fixture("wm_size_override.txt")), QSize(720, 1600));
    EXPECT_EQ(parseWmSize(fixture("wm_size_android4_crlf.txt")), QSize(480, 800));
    EXPECT_FALSE(parseWmSize(u"/system/bin/sh: wm: not found\n").isValid());
    EXPECT_FALSE(parseWmSize(u"Physical size: 99999999x1\n").isValid());
}

TEST(DeviceName, SettingThenModel) {
    EXPECT_EQ(parseDeviceName(u"Lab-07\n", u"Pixel 7a\n"), "Lab-07");
    EXPECT_EQ(parseDeviceName(u"null\n", u"Pixel 7a\r\n"), "Pixel 7a");
    EXPECT_EQ(parseDeviceName(u"", u"SM-T510"), "SM-T510");
    EXPECT_EQ(parseDeviceName(u"  Kid's tablet \n", u"x"), "  Kid's tablet ");
    EXPECT_EQ(parseDeviceName(u"\n", u"\n"), QString());
}

TEST(Address, FirstNonLoopbackIpv4) {
    EXPECT_EQ(parseIpv4Address(fixture("ip_addr_phone.txt"), u""), "10.161.5.77");
    EXPECT_EQ(parseIpv4Address(fixture("ip_addr_loopback_only.txt"), fixture("ip_route_crlf.txt")),
              "192.168.1.23");
    EXPECT_EQ(parseIpv4Address(fixture("ip_addr_loopback_only.txt"), u""), QString());
    EXPECT_EQ(parseIpv4Address(u"    inet 999.1.1.1/8 scope global x\n", u""), QString());
    EXPECT_EQ(parseIpv4Address(u"    inet <b>1.2.3.4</b>\n", u""), QString());
    // A route whose source is loopback comes first on some devices; the next one is the address.
    EXPECT_EQ(parseIpv4Address(u"", u"127.0.0.0/8 dev lo proto kernel scope host src 127.0.0.1\r\n"
                                    u"192.168.1.0/24 dev wlan0 proto kernel scope link src "
                                    u"192.168.1.23\r\n"),
              "192.168.1.23");
}

TEST(Address, NetworkSerials) {
    const std::pair<const char16_t*, const char*> hosts[] = {
        {u"192.168.1.23:5555", "192.168.1.23"},
        {u"127.0.0.1:40001", "127.0.0.1"},
        {u"lab-phone-3.local:5555", "lab-phone-3.local"},
        {u"[fd00::5]:5555", "fd00::5"},
        {u"[::1]:65535", "::1"},
        {u"[fd00::5]:65536", ""},
        {u"[lab]:5555", ""},
        {u"emulator-5554", ""},
        {u"adb-R58M-x._adb-tls-connect._tcp", ""},
        {u"host:notaport", ""},
        {u"10.0.0.5:5555x", ""}};
    for (const auto& [serial, host] : hosts)
        EXPECT_EQ(networkSerialHost(serial), QString::fromLatin1(host))
            << QString::fromUtf16(serial).toStdString();
    // Made by host:connect, whatever its host; never a USB port's.
    EXPECT_TRUE(adb::isWifi({"localhost:5555", "device", "", false}));
    EXPECT_TRUE(adb::isWifi({"[fd00::5]:5555", "device", "", false}));
    EXPECT_FALSE(adb::isWifi({"R58M:1", "device", "", true}));
    EXPECT_EQ(networkSerialAddress(u"[FD00::5]:5555"), "fd00::5");
    EXPECT_EQ(networkSerialAddress(u"127.0.0.1:40001"), QString());
    EXPECT_EQ(networkSerialAddress(u"lab-phone-3.local:5555"), QString());
}

} // namespace

// Transports as devices: a Wi-Fi transport is the device of the USB transport that gives its
// serial number and has its host among its own addresses, read through USB while it is ready
// there; any other transport is a device of its own, and a serial number that more than one
// device gives names none of them.
TEST(ByDevice, OnePhoneHoweverAttachedAndNoOtherMerged) {
    using adb::Device;
    const Device usb{"R58M", "device", "Pixel 7a", true}, usbGone{"R58M", "offline", "", true},
        wifi{"10.0.0.5:5555", "device", "Pixel 7a", false},
        twin{"10.0.0.6:5555", "device", "Pixel 7a", false},
        named{"pixel.lan:5555", "device", "Pixel 7a", false},
        v6{"[fd00::5]:5555", "device", "Pixel 7a", false},
        other{"emulator-5554", "device", "sdk", false};
    const QHash<QString, adb::Identity> identities{
        {"R58M", {"R58M", {"10.0.0.5", "fd00::5"}, {}}},
        {"10.0.0.5:5555", {"R58M", {"10.0.0.5"}, {"10.0.0.5"}}},
        {"10.0.0.6:5555", {"R58M", {"10.0.0.6"}, {"10.0.0.6"}}},
        {"pixel.lan:5555", {"R58M", {}, {"10.0.0.5"}}},
        {"[fd00::5]:5555", {"R58M", {}, {"fd00::5"}}}};
    const auto devices = [&](const std::vector<Device>& transports) {
        QStringList out;
        for (const adb::AttachedAndroid& d : adb::byDevice(transports, identities))
            out << QStringLiteral("%1 via %2 %3 %4")
                       .arg(d.serial, d.via.serial, d.usb ? "usb" : "wifi", d.wifiAddress);
        return out.join(u'|');
    };
    EXPECT_EQ(devices({wifi, usb, other}),
              "R58M via R58M usb 10.0.0.5:5555|emulator-5554 via emulator-5554 usb ");
    EXPECT_EQ(devices({usbGone, wifi}), "R58M via 10.0.0.5:5555 usb 10.0.0.5:5555");
    EXPECT_EQ(devices({wifi}), "R58M via 10.0.0.5:5555 wifi 10.0.0.5:5555");
    EXPECT_EQ(devices({wifi, twin}), "10.0.0.5:5555 via 10.0.0.5:5555 wifi 10.0.0.5:5555|"
                                     "10.0.0.6:5555 via 10.0.0.6:5555 wifi 10.0.0.6:5555");
    EXPECT_EQ(devices({usb, wifi, twin}), "R58M via R58M usb 10.0.0.5:5555|"
                                          "10.0.0.6:5555 via 10.0.0.6:5555 wifi 10.0.0.6:5555");
    EXPECT_EQ(devices({usb, named}), "R58M via R58M usb pixel.lan:5555");
    EXPECT_EQ(devices({usb, wifi, named}), "R58M via R58M usb 10.0.0.5:5555");
    EXPECT_EQ(devices({v6, usb}), "R58M via R58M usb [fd00::5]:5555");
    // A Wi-Fi transport of its number at an address it did not say has its addresses read
    // again, and a failed read keeps those it had.
    EXPECT_EQ(adb::readAgainFor(twin, {usb, twin, other}, identities), std::vector<Device>{usb});
    EXPECT_TRUE(adb::readAgainFor(wifi, {usb, wifi}, identities).empty());
    EXPECT_TRUE(adb::readAgainFor(usb, {usb, twin}, identities).empty());
    const adb::Identity before = identities.value("R58M");
    EXPECT_EQ(adb::withAddressesOf(before, {"R58M", {"10.0.0.6"}, {}}).addresses,
              QStringList{"10.0.0.6"});
    EXPECT_EQ(adb::withAddressesOf(before, {}), before);

    // Who a transport is: its number and its own addresses, but lo's and link-local ones.
    EXPECT_EQ(
        adb::identityFrom("R58M123ABC\r\n::\r\n1: lo: <LOOPBACK,UP>\r\n"
                          "    inet 127.0.0.1/8 scope host lo\r\n    inet6 ::1/128 scope host\r\n"
                          "30: wlan0: <BROADCAST,UP>\r\n"
                          "    inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0\r\n"
                          "    inet6 fe80::1/64 scope link\r\n"
                          "    inet6 2001:DB8::5/64 scope global dynamic noprefixroute\r\n::\r\n"
                          "null\r\n::\r\nPixel 7"),
        (adb::Identity{"R58M123ABC", {"192.168.1.23", "2001:db8::5"}, {}, "Pixel 7"}));
    // The name its owner gave it wins over the model; an older device that prints nothing for
    // the identity's later parts has no name.
    EXPECT_EQ(adb::identityFrom("R58M\n::\n::\nCare Phone\n::\nPixel 7\n").name, "Care Phone");
    EXPECT_EQ(adb::identityFrom("R58M\n::\n").name, "");
    for (const auto& [output, number] : {std::pair{"R58M123ABC\r\n", "R58M123ABC"},
                                         {"", ""},
                                         {"/system/bin/sh: x: not found\n", ""}})
        EXPECT_EQ(adb::serialNumberFrom(output), QString::fromLatin1(number));
    // What was read stays while its transport is listed; what could not be, while it is ready.
    const QHash<QString, adb::Identity> known{{"R58M", {"R58M", {}, {}}}, {"unread", {}}};
    EXPECT_EQ(adb::stillKnown(known, {usbGone, {"unread", "offline", "", true}}).keys(),
              QStringList{"R58M"});
    EXPECT_EQ(adb::stillKnown(known, {{"unread", "device", "", true}}).keys(),
              QStringList{"unread"});
}
