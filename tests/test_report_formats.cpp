// A reading as a script gets it: the JSON report's values, from readings made by hand.
#include "qt_printers.h"
#include "report/devices_page.h"
#include "report/exposition.h"
#include "report/json_report.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace {

// A phone as a reader gives it: every panel known.
DeviceReading phone() {
    DeviceReading r;
    r.serial = QStringLiteral("R58M12ABCDE");
    r.kind = DeviceKind::Android;
    r.name = QStringLiteral("Lab-07");
    r.memory = device::ByteCounts{8156930048.0, 3310448640.0};
    r.storage = device::ByteCounts{117439594496.0, 73055395840.0};
    r.processorCode = 43620;
    r.power = device::PowerStatus{8, 76, device::kUnknownTime, 5400};
    r.mains = 1;
    r.screen = QSize(1080, 2400);
    r.address = QStringLiteral("192.168.1.23");
    r.details.battery = {QStringLiteral("Good"),
                         28.6,
                         4.187,
                         212,
                         device::BatteryCapacity{4012, 4385},
                         76,
                         {},
                         {},
                         1.8504,
                         7.5866,
                         27};
    r.details.cpu = {{QStringLiteral("arm64-v8a")}, QStringLiteral("Google GS201"), 8};
    r.status = QStringLiteral("Connected to Lab-07 (R58M12ABCDE) by USB.");
    return r;
}

QJsonValue at(const QJsonObject& report, const char* path) {
    QJsonValue value = report;
    for (const QString& key : QString::fromLatin1(path).split(u'/'))
        value = value.toObject().value(key);
    return value;
}

TEST(ReadingJson, NumbersAsNumbersAndNullForWhatIsUnknown) {
    struct Case {
        const char* name;
        std::function<void(DeviceReading&)> change;
        const char* path;
        QJsonValue expected;
    };
    const Case cases[] = {
        {"a full battery", [](DeviceReading& r) { r.power->percent = 100; }, "battery/percent",
         100.0},
        // Empty is a reading, the one a lab needs most.
        {"an empty battery",
         [](DeviceReading& r) {
             r.power->flag = 4;
             r.power->percent = 0;
         },
         "battery/percent", 0.0},
        {"charge past its scale", [](DeviceReading& r) { r.power->percent = 101; },
         "battery/percent", QJsonValue()},
        {"charge not known", [](DeviceReading& r) { r.power->percent = 255; }, "battery/percent",
         QJsonValue()},
        {"health as full over design", [](DeviceReading&) {}, "battery/maximumCapacity/percent",
         91.49},
        {"full", [](DeviceReading&) {}, "battery/maximumCapacity/fullMah", 4012.0},
        {"design", [](DeviceReading&) {}, "battery/maximumCapacity/designMah", 4385.0},
        {"no capacity", [](DeviceReading& r) { r.details.battery.capacity.reset(); },
         "battery/maximumCapacity", QJsonValue()},
        {"on mains", [](DeviceReading&) {}, "battery/onMains", true},
        {"off mains", [](DeviceReading& r) { r.mains = 0; }, "battery/onMains", false},
        {"mains not known", [](DeviceReading& r) { r.mains = 255; }, "battery/onMains",
         QJsonValue()},
        {"cold", [](DeviceReading& r) { r.details.battery.health = QStringLiteral("Cold"); },
         "battery/health", QStringLiteral("Cold")},
        {"charging", [](DeviceReading&) {}, "battery/charging", true},
        {"discharging", [](DeviceReading& r) { r.power->flag = 1; }, "battery/charging", false},
        {"no battery", [](DeviceReading& r) { r.power->flag = 128; }, "battery/present", false},
        {"no battery charges nothing", [](DeviceReading& r) { r.power->flag = 128; },
         "battery/charging", QJsonValue()},
        {"no battery holds no charge",
         [](DeviceReading& r) {
             r.power->flag = 128;
             r.power->percent = 0;
         },
         "battery/percent", QJsonValue()},
        {"time left unknown", [](DeviceReading&) {}, "battery/secondsLeft", QJsonValue()},
        {"time to full", [](DeviceReading&) {}, "battery/secondsToFull", 5400.0},
        {"full now", [](DeviceReading& r) { r.power->fullLifeTime = 0; }, "battery/secondsToFull",
         0.0},
        {"a time that is none", [](DeviceReading& r) { r.power->fullLifeTime = -1; },
         "battery/secondsToFull", QJsonValue()},
        {"memory in use", [](DeviceReading&) {}, "memory/usedPercent", 59.42},
        {"storage free", [](DeviceReading&) {}, "storage/free", 73055395840.0},
        {"no memory", [](DeviceReading& r) { r.memory.reset(); }, "memory", QJsonValue()},
        {"no address", [](DeviceReading& r) { r.address.clear(); }, "address", QJsonValue()},
        {"no name", [](DeviceReading& r) { r.name.clear(); }, "name", QJsonValue()},
        {"cores", [](DeviceReading&) {}, "processor/cores", 8.0},
        {"cores not said", [](DeviceReading& r) { r.details.cpu.cores = 0; }, "processor/cores",
         QJsonValue()},
        {"screen", [](DeviceReading&) {}, "screen/height", 2400.0},
        {"no screen", [](DeviceReading& r) { r.screen = QSize(); }, "screen", QJsonValue()},
        {"cycles", [](DeviceReading&) {}, "battery/cycles", 212.0},
        // To the milliampere and the hundredth of a watt, signed as it flows.
        {"current", [](DeviceReading&) {}, "battery/currentA", 1.85},
        {"power", [](DeviceReading&) {}, "battery/powerW", 7.59},
        {"draining", [](DeviceReading& r) { r.details.battery.powerW = -1.8993; }, "battery/powerW",
         -1.9},
        {"charger", [](DeviceReading&) {}, "battery/chargerW", 27.0},
        {"no charger", [](DeviceReading& r) { r.details.battery.chargerW.reset(); },
         "battery/chargerW", QJsonValue()},
        {"current unknown", [](DeviceReading& r) { r.details.battery.currentA.reset(); },
         "battery/currentA", QJsonValue()},
        {"schema", [](DeviceReading&) {}, "schema", 1.0},
    };
    for (const Case& c : cases) {
        DeviceReading reading = phone();
        c.change(reading);
        EXPECT_EQ(at(report::readingJson(reading), c.path), c.expected) << c.name;
    }
}

TEST(ListedJson, NamesEachFieldAsTheSchemaDoes) {
    EXPECT_EQ(report::listedJson({"R58M", DeviceKind::Android, "unauthorized", "", "wifi",
                                  "10.0.0.5:5555", "10.0.0.5:5555", "SM S918B"}),
              (QJsonObject{{"serial", "R58M"},
                           {"kind", "android"},
                           {"state", "unauthorized"},
                           {"name", QJsonValue()},
                           {"transport", "wifi"},
                           {"wifiAddress", "10.0.0.5:5555"},
                           {"model", "SM S918B"}}));
}

} // namespace

namespace {

WatchedDevice watched(const char* serial, const char* kind, const char* state,
                      std::optional<DeviceReading> reading = std::nullopt) {
    WatchedDevice d;
    d.listed = {QString::fromLatin1(serial), *kindFromName(QString::fromLatin1(kind)),
                QString::fromLatin1(state), QString()};
    if (d.listed.kind == DeviceKind::Android)
        d.listed.transport = QStringLiteral("usb");
    d.reading = std::move(reading);
    return d;
}

DeviceReading iphone() {
    DeviceReading r;
    r.serial = QStringLiteral("00008110-001A2B3C4D5E801E");
    r.kind = DeviceKind::Apple;
    r.name = QStringLiteral("Ana's iPhone");
    r.details.system = {QStringLiteral("17.5"), QStringLiteral("iPhone15,2"),
                        QStringLiteral("phone")};
    r.storage = device::ByteCounts{111592116224.0, 61354827776.0};
    r.power = device::PowerStatus{1, 81, 36600, device::kUnknownTime};
    r.mains = 0;
    r.details.battery = {QString(), 29.5, 3.912, 212, device::BatteryCapacity{2850, 3279},
                         81,        {},   {},    -0.5};
    r.details.battery.powerW = -0.5 * 3.912;
    return r;
}

// The families that have a sample, and the samples.
struct Parsed {
    QStringList families;
    QStringList samples;
};

Parsed parse(const QByteArray& text) {
    Parsed out;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("# TYPE ")))
            out.families << line.section(u' ', 2, 2);
        else if (!line.startsWith(u'#'))
            out.samples << line;
    }
    return out;
}

TEST(Exposition, BaseUnitsAndRatiosForEveryDeviceThatGaveThem) {
    DeviceReading android = phone();
    android.details.system = {QStringLiteral("14"), QStringLiteral("lynx"),
                              QStringLiteral("phone")};
    WatchedDevice a = watched("R58M12ABCDE", "android", "ready", android);
    a.readSeconds = 1.5;
    a.lastReadTime = 1765140000.25;
    a.readErrors = 3;
    DeviceReading empty = iphone();
    empty.power->flag = 4;
    empty.power->percent = 0;
    const WatchedDevice i = watched("00008110-001A2B3C4D5E801E", "ios", "ready", empty);
    const Parsed got = parse(report::exposition({a, i}));
    const QString phone = QStringLiteral("{serial=\"R58M12ABCDE\",kind=\"android\"} ");
    const QString apple = QStringLiteral("{serial=\"00008110-001A2B3C4D5E801E\",kind=\"ios\"} ");
    const QStringList expected{
        "device_info_devices{kind=\"android\",state=\"ready\"} 1",
        "device_info_devices{kind=\"ios\",state=\"ready\"} 1",
        "device_info_up" + phone + "1",
        "device_info_device_info{serial=\"R58M12ABCDE\",kind=\"android\",state=\"ready\","
        "name=\"Lab-07\",model=\"lynx\",os_version=\"14\",type=\"phone\",transport=\"usb\"} 1",
        "device_info_device_info{serial=\"00008110-001A2B3C4D5E801E\",kind=\"ios\",state=\"ready\","
        "name=\"Ana's iPhone\",model=\"iPhone15,2\",os_version=\"17.5\",type=\"phone\","
        "transport=\"\"} 1",
        "device_info_battery_charge_ratio" + phone + "0.76",
        "device_info_battery_charge_ratio" + apple + "0",
        "device_info_battery_charging" + phone + "1",
        "device_info_battery_charging" + apple + "0",
        "device_info_mains_online" + phone + "1",
        "device_info_mains_online" + apple + "0",
        "device_info_battery_health_ratio" + phone + "0.9149372862029647",
        "device_info_battery_charge_full_ampere_hours" + phone + "4.012",
        "device_info_battery_charge_full_design_ampere_hours" + apple + "3.279",
        "device_info_battery_cycles" + apple + "212",
        "device_info_battery_temperature_celsius" + phone + "28.6",
        "device_info_battery_voltage_volts" + apple + "3.912",
        "device_info_battery_current_amperes" + phone + "1.8504",
        "device_info_battery_current_amperes" + apple + "-0.5",
        "device_info_battery_power_watts" + phone + "7.5866",
        "device_info_battery_power_watts" + apple + "-1.956",
        "device_info_charger_max_watts" + phone + "27",
        "device_info_battery_time_to_empty_seconds" + apple + "36600",
        "device_info_battery_time_to_full_seconds" + phone + "5400",
        "device_info_memory_total_bytes" + phone + "8156930048",
        "device_info_memory_available_bytes" + phone + "3310448640",
        "device_info_storage_total_bytes" + apple + "111592116224",
        "device_info_storage_free_bytes" + phone + "73055395840",
        "device_info_screen_width_pixels" + phone + "1080",
        "device_info_screen_height_pixels" + phone + "2400",
        "device_info_read_duration_seconds" + phone + "1.5",
        "device_info_last_read_timestamp_seconds" + phone + "1765140000.25",
        "device_info_read_errors_total" + phone + "3",
        "device_info_read_errors_total" + apple + "0",
    };
    for (const QString& sample : expected)
        EXPECT_TRUE(got.samples.contains(sample)) << sample.toStdString();
    // What a device does not give has no series: never 0, never NaN.
    for (const QString& sample : got.samples) {
        EXPECT_FALSE(sample.startsWith("device_info_memory") && sample.contains("ios"))
            << sample.toStdString();
        EXPECT_FALSE(sample.contains("nan", Qt::CaseInsensitive)) << sample.toStdString();
    }
    EXPECT_FALSE(got.samples.contains("device_info_battery_time_to_empty_seconds" + phone + "0"));
    EXPECT_FALSE(got.samples.contains("device_info_battery_cycles" + phone + "0"));
    EXPECT_FALSE(got.samples.join(u'\n').contains("device_info_charger_max_watts" + apple));
    // Each family once, with its samples together.
    QStringList families = got.families;
    EXPECT_EQ(families.removeDuplicates(), 0);
}

// Each family says what it is in a sentence, and only the counter ends in _total.
TEST(Exposition, EveryFamilyHasItsSentenceAndItsType) {
    DeviceReading android = phone();
    WatchedDevice a = watched("R58M12ABCDE", "android", "ready", android);
    a.readSeconds = 1.5;
    a.lastReadTime = 1765140000.25;
    const WatchedDevice i = watched("00008110-001A2B3C4D5E801E", "ios", "ready", iphone());
    const QStringList lines =
        QString::fromUtf8(report::exposition({a, i})).split(u'\n', Qt::SkipEmptyParts);
    int families = 0;
    for (qsizetype at = 0; at < lines.size(); ++at) {
        if (!lines[at].startsWith("# HELP "))
            continue;
        ++families;
        const QString name = lines[at].section(u' ', 2, 2);
        const QString help = lines[at].section(u' ', 3);
        EXPECT_TRUE(help.size() > 5 && help.endsWith(u'.')) << lines[at].toStdString();
        ASSERT_LT(at + 1, lines.size());
        EXPECT_EQ(lines[at + 1], QStringLiteral("# TYPE %1 %2")
                                     .arg(name, name.endsWith("_total") ? "counter" : "gauge"));
        EXPECT_TRUE(lines.value(at + 2).startsWith(name + u'{')) << name.toStdString();
    }
    EXPECT_EQ(families, 26);
    // What the two-valued ones mean, as the README gives it.
    for (const char* help :
         {"# HELP device_info_up 1 when the device is ready and its last read succeeded, else 0.",
          "# HELP device_info_battery_charging 1 while the battery charges, else 0.",
          "# HELP device_info_mains_online 1 while the device is on mains power, else 0.",
          "# HELP device_info_battery_charge_ratio Battery charge, from 0 to 1."})
        EXPECT_TRUE(lines.contains(QString::fromLatin1(help))) << help;
}

TEST(Exposition, DevicesNotReadAreCountedAndDownWithNoValues) {
    WatchedDevice failed = watched("R58M12ABCDE", "android", "ready");
    failed.readErrors = 2;
    failed.readSeconds = 3.0;
    const Parsed got =
        parse(report::exposition({failed, watched("emulator-5554", "android", "unauthorized"),
                                  watched("00008110-001A", "ios", "trust")}));
    for (const char* sample :
         {"device_info_devices{kind=\"android\",state=\"ready\"} 1",
          "device_info_devices{kind=\"android\",state=\"unauthorized\"} 1",
          "device_info_devices{kind=\"ios\",state=\"trust\"} 1",
          "device_info_up{serial=\"R58M12ABCDE\",kind=\"android\"} 0",
          "device_info_up{serial=\"emulator-5554\",kind=\"android\"} 0",
          "device_info_read_errors_total{serial=\"R58M12ABCDE\",kind=\"android\"} 2",
          "device_info_read_duration_seconds{serial=\"R58M12ABCDE\",kind=\"android\"} 3"})
        EXPECT_TRUE(got.samples.contains(sample)) << sample;
    EXPECT_EQ(got.families,
              (QStringList{"device_info_devices", "device_info_up", "device_info_device_info",
                           "device_info_read_duration_seconds", "device_info_read_errors_total"}));
    EXPECT_TRUE(report::exposition({}).isEmpty());
}

TEST(Exposition, LabelValuesAreEscapedAndCut) {
    const struct {
        QString value;
        QByteArray escaped;
    } cases[] = {
        {QStringLiteral("Lab \"7\" \\ back"), "Lab \\\"7\\\" \\\\ back"},
        {QStringLiteral("two\nlines"), "two\\nlines"},
        {QStringLiteral("Ana’s iPhone"), "Ana’s iPhone"},
        {QString(300, u'x'), QByteArray(256, 'x')},
        // An emoji across the 256th unit goes whole: never half a pair, never invalid UTF-8.
        {QString(255, u'x') + QStringLiteral("🔋y"), QByteArray(255, 'x')},
        {QString(254, u'x') + QStringLiteral("🔋🔋"), QByteArray(254, 'x') + "🔋"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(report::labelValue(c.value), c.escaped);
}

// What /devices.json adds to the report: every device attached, its state, and for one not read
// what to do, with null for everything that could not be read.
TEST(DevicesJson, EveryDeviceAttachedWithItsStateAndNullWhereNothingWasRead) {
    const QJsonObject unread{{"schema", 1},
                             {"serial", "R58M"},
                             {"kind", "android"},
                             {"state", "unauthorized"},
                             {"name", QJsonValue()},
                             {"model", QJsonValue()},
                             {"status", "Unlock the device and allow USB debugging in its prompt; "
                                        "if no prompt shows, re-plug it."},
                             {"address", QJsonValue()},
                             {"memory", QJsonValue()},
                             {"storage", QJsonValue()},
                             {"processor", QJsonValue()},
                             {"battery", QJsonValue()},
                             {"screen", QJsonValue()},
                             {"readAt", QJsonValue()},
                             {"type", QJsonValue()},
                             {"transport", "usb"},
                             {"wifiAddress", QJsonValue()}};
    EXPECT_EQ(report::watchedJson(watched("R58M", "android", "unauthorized")), unread);
    WatchedDevice trust = watched("00008110-001A", "ios", "trust");
    trust.listed.name = QStringLiteral("Ana's iPhone");
    WatchedDevice failed = watched("R58M", "android", "ready");
    failed.readErrors = 1;
    DeviceReading android = phone();
    android.details.system.model = QStringLiteral("lynx");
    WatchedDevice read = watched("R58M", "android", "ready", android);
    read.lastReadTime = 1765140000.25;
    const std::pair<QJsonObject, QJsonObject> cases[] = {
        {report::watchedJson(trust),
         {{"name", "Ana's iPhone"},
          {"state", "trust"},
          {"status", "It asks whether to trust this computer: unlock it and tap Trust; Device "
                     "Info goes on by itself."}}},
        {report::watchedJson(watched("R58M", "android", "ready")),
         {{"state", "ready"}, {"status", "It has not been read yet."}, {"battery", QJsonValue()}}},
        {report::watchedJson(failed), {{"status", "Its last read failed; trying again."}}},
        {report::watchedJson(read),
         {{"state", "ready"},
          {"model", "lynx"},
          {"name", "Lab-07"},
          {"readAt", "2025-12-07T20:40:00Z"},
          {"status", "Connected to Lab-07 (R58M12ABCDE) by USB."}}},
    };
    for (const auto& [got, expected] : cases) {
        for (auto it = expected.begin(); it != expected.end(); ++it)
            EXPECT_EQ(got.value(it.key()), it.value()) << it.key().toStdString();
    }
    // Otherwise what --report --json gives for it.
    QJsonObject report = report::watchedJson(read);
    for (const char* added : {"state", "model", "readAt"})
        report.remove(QLatin1String(added));
    EXPECT_EQ(report, report::readingJson(android));
}

// The page marks what the shipped alerting rules alert on: hotter than 45 °C, below 80% of the
// design; the worst rows first, then by name.
TEST(DevicesPage, MarksWhatTheShippedRulesAlertOn) {
    const auto device = [](const char* serial, const char* name, double celsius, double percent) {
        return QJsonObject{
            {"serial", serial},
            {"kind", "android"},
            {"state", "ready"},
            {"name", name},
            {"storage", QJsonValue()},
            {"battery", QJsonObject{{"temperatureC", celsius},
                                    {"maximumCapacity", QJsonObject{{"percent", percent}}}}}};
    };
    QJsonObject unread = device("U", "Zed", 30, 90);
    unread["battery"] = QJsonValue();
    // Losing power on mains, and a full battery's float that is no drain.
    const auto onMains = [&device](const char* serial, double watts) {
        QJsonObject d = device(serial, "papa", 30, 99);
        QJsonObject battery = d["battery"].toObject();
        battery["powerW"] = watts;
        battery["onMains"] = true;
        d["battery"] = battery;
        return d;
    };
    const QByteArray page =
        report::devicesPage({device("A", "alpha", 45, 80), device("B", "Bravo", 45.1, 95),
                             device("C", "charlie", 30, 79.9), device("D", "delta", 30, 99), unread,
                             onMains("P", -1.9), onMains("Q", -0.05)},
                            30);
    QStringList order;
    static const QRegularExpression row(QStringLiteral("<tr data-serial=\"(\\w)\""));
    for (const auto& m : row.globalMatch(QString::fromUtf8(page)))
        order << m.captured(1);
    EXPECT_EQ(order, (QStringList{"P", "U", "B", "C", "A", "D", "Q"}));
    EXPECT_EQ(page.count("class=\"alert\""), 4) << "not ready, hot and worn; 45 °C and 80% are not";
    QByteArray head;
    for (const char* c :
         {"device|Device", "state|State", "charge|Charge", "power|Power", "health|Health",
          "temperature|Temperature", "storage|Storage", "lastRead|Last read"}) {
        const QList<QByteArray> pair = QByteArray(c).split('|');
        head += "<th scope=\"col\" data-column=\"" + pair[0] + "\">" + pair[1] + "</th>";
    }
    EXPECT_TRUE(page.contains("<thead><tr>" + head + "</tr></thead>"));
    EXPECT_TRUE(page.contains("⚠ −1.9 W (draining)"));
    EXPECT_TRUE(page.contains("⚠ 45.1 °C (hot)"));
    EXPECT_TRUE(page.contains("⚠ 79% of design (worn)"));

    QFile rules(QStringLiteral(DEVICE_INFO_SOURCE_DIR "/exporter/deploy/device-info.rules.yml"));
    ASSERT_TRUE(rules.open(QIODevice::ReadOnly));
    const QByteArray text = rules.readAll();
    EXPECT_TRUE(text.contains("device_info_battery_temperature_celsius > " +
                              QByteArray::number(report::kHotCelsius) + '\n'));
    EXPECT_TRUE(text.contains("device_info_battery_health_ratio < " +
                              QByteArray::number(report::kWornPercent / 100) + '\n'));
    EXPECT_TRUE(text.contains(
        "-device_info_battery_power_watts >= " + QByteArray::number(device::kDrainWatts) + ' '));
}

} // namespace
