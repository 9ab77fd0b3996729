// A reading as a script gets it: the JSON report's values, from readings made by hand.
#include "qt_printers.h"
#include "report/json_report.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <functional>

namespace {

// A phone as a reader gives it: every panel known.
DeviceReading phone() {
    DeviceReading r;
    r.serial = QStringLiteral("R58M12ABCDE");
    r.kind = QStringLiteral("android");
    r.name = QStringLiteral("Lab-07");
    r.memory = device::ByteCounts{8156930048.0, 3310448640.0};
    r.storage = device::ByteCounts{117439594496.0, 73055395840.0};
    r.processorCode = 43620;
    r.power = device::PowerStatus{8, 76, device::kUnknownTime, 5400};
    r.mains = 1;
    r.screen = QSize(1080, 2400);
    r.address = QStringLiteral("192.168.1.23");
    r.details.battery = {QStringLiteral("Good"), 28.6, 4.187, 212,
                         device::BatteryCapacity{4012, 4385}};
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
        {"schema", [](DeviceReading&) {}, "schema", 1.0},
    };
    for (const Case& c : cases) {
        DeviceReading reading = phone();
        c.change(reading);
        EXPECT_EQ(at(report::readingJson(reading), c.path), c.expected) << c.name;
    }
}

TEST(ListedJson, NamesEachFieldAsTheSchemaDoes) {
    EXPECT_EQ(report::listedJson({"R58M", "android", "unauthorized", ""}),
              (QJsonObject{{"serial", "R58M"},
                           {"kind", "android"},
                           {"state", "unauthorized"},
                           {"name", QJsonValue()}}));
}

} // namespace
