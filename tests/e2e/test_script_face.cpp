// The program as a script runs it, with no display: --list and --report against simulated
// Android devices and a simulated iPhone, through the real adb server and libimobiledevice.
#include "e2e_fixture.h"

#include "device_link/adb/adb_reading.h"

#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

namespace {

const QString kIphone = QStringLiteral("00008110-001A2B3C4D5E801E");

class ScriptFace : public EndToEnd {
protected:
    struct Ran {
        int status = -1;
        QString out;
        QString err;
    };

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("ANDROID_SERIAL"));
        env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
        // Without a simulated iPhone, a usbmuxd that nothing answers: never this machine's.
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"),
                   iphone ? iphone->usbmuxdAddress()
                          : QStringLiteral("127.0.0.1:%1").arg(freePort()));
        // No system bus: this machine's headsets are none of these tests' business.
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/device-info-test-bus"));
        return env;
    }

    void start(QProcess& program, const QStringList& arguments) const {
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(DEVICE_INFO_EXE), arguments);
    }

    Ran run(const QStringList& arguments) const {
        QProcess program;
        start(program, arguments);
        Ran ran;
        if (!program.waitForFinished(20000)) {
            ADD_FAILURE() << "no end: " << arguments.join(' ').toStdString();
            return ran;
        }
        ran.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        ran.out = QString::fromUtf8(program.readAllStandardOutput());
        ran.err = QString::fromUtf8(program.readAllStandardError());
        // Said once, and kept out of what each test compares.
        static const QRegularExpression noBus(
            QStringLiteral("^device-info: No system bus to ask UPower on \\(.*\\)\n"),
            QRegularExpression::MultilineOption);
        EXPECT_LE(ran.err.count(noBus), 1) << ran.err.toStdString();
        ran.err.remove(noBus);
        return ran;
    }

    SimulatorProcess* startAndroid(const char* profile) {
        SimulatorProcess* device = harness.startSimulator(QString::fromLatin1(profile));
        EXPECT_NE(device, nullptr) << harness.error().toStdString();
        return device;
    }

    SimulatorProcess* iphone = nullptr;
};

// What a field of a report holds: the schema's types, with null for what is unknown.
enum class Type { Integer, Number, String, Bool, Object, Array, NullOr = 0x10 };

struct Field {
    const char* path; // "battery/percent"
    Type type;
    bool nullable;
};

const Field kSchema[] = {
    {"schema", Type::Integer, false},
    {"serial", Type::String, false},
    {"kind", Type::String, false},
    {"name", Type::String, true},
    {"status", Type::String, false},
    {"address", Type::String, true},
    {"memory", Type::Object, true},
    {"memory/total", Type::Integer, false},
    {"memory/available", Type::Integer, false},
    {"memory/usedPercent", Type::Number, false},
    {"storage", Type::Object, true},
    {"storage/total", Type::Integer, false},
    {"storage/free", Type::Integer, false},
    {"storage/usedPercent", Type::Number, false},
    {"processor/type", Type::Integer, false},
    {"processor/abis", Type::Array, false},
    {"processor/systemOnChip", Type::String, true},
    {"processor/cores", Type::Integer, true},
    {"battery/present", Type::Bool, true},
    {"battery/charging", Type::Bool, true},
    {"battery/percent", Type::Number, true},
    {"battery/secondsLeft", Type::Integer, true},
    {"battery/secondsToFull", Type::Integer, true},
    {"battery/onMains", Type::Bool, true},
    {"battery/health", Type::String, true},
    {"battery/temperatureC", Type::Number, true},
    {"battery/voltageV", Type::Number, true},
    {"battery/cycles", Type::Integer, true},
    {"battery/currentA", Type::Number, true},
    {"battery/powerW", Type::Number, true},
    {"battery/chargerW", Type::Number, true},
    {"battery/maximumCapacity", Type::Object, true},
    {"battery/maximumCapacity/percent", Type::Number, false},
    {"battery/maximumCapacity/fullMah", Type::Number, false},
    {"battery/maximumCapacity/designMah", Type::Number, false},
    {"screen", Type::Object, true},
    {"screen/width", Type::Integer, false},
    {"screen/height", Type::Integer, false},
};

// Every field of the schema is there with its type; a field inside a null object is skipped.
void expectSchema(const QJsonObject& report) {
    for (const Field& field : kSchema) {
        const QStringList path = QString::fromLatin1(field.path).split(u'/');
        QJsonValue value = report;
        bool insideNull = false;
        for (const QString& key : path) {
            if (value.isNull()) {
                insideNull = true;
                break;
            }
            ASSERT_TRUE(value.isObject()) << field.path;
            ASSERT_TRUE(value.toObject().contains(key)) << "missing " << field.path;
            value = value.toObject().value(key);
        }
        if (insideNull || (field.nullable && value.isNull()))
            continue;
        const bool typed = [&] {
            switch (field.type) {
            case Type::Integer:
                return value.isDouble() && value.toDouble() == std::floor(value.toDouble());
            case Type::Number:
                return value.isDouble();
            case Type::String:
                return value.isString();
            case Type::Bool:
                return value.isBool();
            case Type::Object:
                return value.isObject();
            case Type::Array:
                return value.isArray();
            case Type::NullOr:
                break;
            }
            return false;
        }();
        EXPECT_TRUE(typed) << field.path << " in "
                           << report.value("serial").toString().toStdString();
    }
}

TEST_F(ScriptFace, ListsBothKindsAndReportsOneOrAllSideBySide) {
    SimulatorProcess* phone = startAndroid("current_phone");
    SimulatorProcess* tablet = startAndroid("tablet_on_mains");
    iphone = harness.startIphone(QStringLiteral("current_iphone"));
    ASSERT_TRUE(phone && tablet && iphone) << harness.error().toStdString();

    const Ran list = run({"--list"});
    EXPECT_EQ(list.status, 0) << list.err.toStdString();
    QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << list.out.toStdString();
    // Each named as the window's title names it, then adb's model, which adb's list gives with
    // "_" for what is not a letter or digit.
    lines.sort();
    EXPECT_TRUE(lines.contains(kIphone + "\tios\tready\tAna's iPhone\t")) << list.out.toStdString();
    EXPECT_TRUE(lines.contains(phone->serial() + "\tandroid\tready\tLab-07\tPixel 7a"));
    EXPECT_TRUE(lines.contains(tablet->serial() + "\tandroid\tready\tKitchen tablet\tSM P610"));

    const Ran all = run({"--report", "--all", "--json"});
    EXPECT_EQ(all.status, 0) << all.err.toStdString();
    const QJsonArray reports = QJsonDocument::fromJson(all.out.toUtf8()).array();
    ASSERT_EQ(reports.size(), 3) << all.out.toStdString();
    EXPECT_EQ(reports.last().toObject().value("serial").toString(), kIphone);
    for (const QJsonValue& report : reports)
        expectSchema(report.toObject());
    for (const QJsonValue& value : reports) {
        const QJsonObject report = value.toObject();
        if (report.value("serial") == phone->serial()) {
            EXPECT_EQ(report.value("name").toString(), "Lab-07");
            EXPECT_EQ(report.value("memory")["total"].toDouble(), 8156930048.0);
            EXPECT_EQ(report.value("address").toString(), "192.168.1.23");
            EXPECT_EQ(report.value("battery")["percent"].toDouble(), 76.0);
            EXPECT_EQ(report.value("battery")["secondsLeft"].toDouble(), 31500.0);
            EXPECT_TRUE(report.value("battery")["secondsToFull"].isNull());
            EXPECT_EQ(report.value("battery")["maximumCapacity"]["designMah"].toDouble(), 4385.0);
            EXPECT_EQ(report.value("processor")["cores"].toDouble(), 8.0);
        } else if (report.value("serial") == kIphone) {
            // No service of an iPhone gives its memory, and usbmuxd no address: null, not 0.
            EXPECT_TRUE(report.value("memory").isNull());
            EXPECT_TRUE(report.value("address").isNull());
            EXPECT_EQ(report.value("battery")["cycles"].toDouble(), 212.0);
            EXPECT_EQ(report.value("kind").toString(), "ios");
        }
    }
    // The program ends only once the iPhone has heard its session end.
    const QJsonObject requests =
        QJsonDocument::fromJson(iphone->control("count").toUtf8()).object();
    EXPECT_EQ(requests.value("StopSession").toInt(), requests.value("StartSession").toInt())
        << iphone->control("count").toStdString();

    // One device of either kind by --serial, as Copy all would put it.
    const Ran one = run({"--report", "--serial", kIphone});
    EXPECT_EQ(one.status, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.startsWith("Device Info (Ana's iPhone)\nConnection: Connected\n"))
        << one.out.toStdString();
    EXPECT_TRUE(one.out.contains("\nUsage (%): Unavailable\n"));
    EXPECT_EQ(one.err, QString()) << "nothing but our words on standard error";
    // An Android device's serial: no iPhone is asked anything.
    const QString before = iphone->control("count");
    const Ran other = run({"--report", "--json", "--serial", tablet->serial()});
    EXPECT_EQ(other.status, 0);
    EXPECT_EQ(QJsonDocument::fromJson(other.out.toUtf8()).object().value("name").toString(),
              "Kitchen tablet");
    EXPECT_EQ(iphone->control("count"), before);
}

TEST_F(ScriptFace, UnauthorizedDeviceIsListedNotReportedAndTheStatusSaysSo) {
    SimulatorProcess* phone = startAndroid("current_phone");
    SimulatorProcess* locked = startAndroid("unauthorized_phone");
    ASSERT_TRUE(phone && locked);
    ASSERT_TRUE(waitUntil([&] { return harness.devices().contains("unauthorized"); }));
    EXPECT_TRUE(run({"--list"}).out.contains(locked->serial() + "\tandroid\tunauthorized\t"));
    const Ran all = run({"--report", "--all"});
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(all.err,
              "device-info: " + locked->serial() + " is not ready (unauthorized): not read\n");
    EXPECT_TRUE(all.out.startsWith("Device Info (Lab-07)\n")) << all.out.toStdString();
    EXPECT_EQ(all.out.count("Device Info ("), 1);
    // Asked for by its serial: attached, so never "not attached".
    const Ran one = run({"--report", "--serial", locked->serial()});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.out, QString());
    EXPECT_EQ(one.err,
              "device-info: " + locked->serial() + " is not ready (unauthorized): not read\n");
}

TEST_F(ScriptFace, IphoneWaitingForTrustIsNotReadyRatherThanAbsent) {
    iphone = harness.startIphone(QStringLiteral("untrusted_iphone"));
    ASSERT_NE(iphone, nullptr) << harness.error().toStdString();
    const Ran one = run({"--report", "--json", "--serial", kIphone});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err, "device-info: " + kIphone + " is not ready (trust): not read\n");
}

// Every field by value, as the README's schema names it: a phone, a tablet on mains and an
// iPhone, read side by side.
TEST_F(ScriptFace, JsonGivesEveryFieldOfTheSchemaByValue) {
    SimulatorProcess* phone = startAndroid("current_phone");
    SimulatorProcess* tablet = startAndroid("tablet_on_mains");
    SimulatorProcess* samsung = startAndroid("samsung_phone");
    iphone = harness.startIphone(QStringLiteral("current_iphone"));
    ASSERT_TRUE(phone && tablet && samsung && iphone) << harness.error().toStdString();

    const Ran list = run({"--list", "--json"});
    EXPECT_EQ(list.status, 0);
    QJsonArray listed = QJsonDocument::fromJson(list.out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 4) << list.out.toStdString();
    const auto object = [](std::initializer_list<std::pair<QString, QJsonValue>> fields) {
        QJsonObject o;
        for (const auto& [key, value] : fields)
            o.insert(key, value);
        return o;
    };
    EXPECT_EQ(listed.last().toObject(), object({{"serial", kIphone},
                                                {"kind", "ios"},
                                                {"state", "ready"},
                                                {"name", "Ana's iPhone"},
                                                {"transport", QJsonValue()},
                                                {"wifiAddress", QJsonValue()},
                                                {"model", QJsonValue()}}));
    EXPECT_TRUE(listed.contains(object({{"serial", tablet->serial()},
                                        {"kind", "android"},
                                        {"state", "ready"},
                                        {"name", "Kitchen tablet"},
                                        {"transport", "wifi"},
                                        {"wifiAddress", tablet->serial()},
                                        {"model", "SM P610"}})))
        << list.out.toStdString();

    const Ran all = run({"--report", "--all", "--json"});
    EXPECT_EQ(all.status, 0) << all.err.toStdString();
    QHash<QString, QJsonObject> bySerial;
    for (const QJsonValue& report : QJsonDocument::fromJson(all.out.toUtf8()).array())
        bySerial.insert(report["serial"].toString(), report.toObject());
    ASSERT_EQ(bySerial.size(), 4) << all.out.toStdString();
    const QJsonObject phoneWanted = object(
        {{"schema", 1},
         {"serial", phone->serial()},
         {"kind", "android"},
         {"type", "phone"},
         {"transport", "wifi"},
         {"wifiAddress", phone->serial()},
         {"name", "Lab-07"},
         {"status", "Connected to Pixel 7a (" + phone->serial() +
                        ") over Wi-Fi, through the adb server at 127.0.0.1:" +
                        QString::number(harness.port()) + ". Android 14, model lynx."},
         {"address", "192.168.1.23"},
         {"memory",
          object({{"total", 8156930048.0}, {"available", 3310448640.0}, {"usedPercent", 59.42}})},
         {"storage",
          object({{"total", 117439594496.0}, {"free", 73055395840.0}, {"usedPercent", 37.79}})},
         {"processor", object({{"type", 43620},
                               {"abis", QJsonArray{"arm64-v8a", "armeabi-v7a", "armeabi"}},
                               {"systemOnChip", "Google GS201"},
                               {"cores", 8}})},
         {"battery",
          object({{"present", true},
                  {"charging", false},
                  {"onMains", false},
                  {"percent", 76},
                  {"secondsLeft", 31500},
                  {"secondsToFull", QJsonValue()},
                  {"health", "Good"},
                  {"temperatureC", 28.6},
                  {"voltageV", 4.123},
                  {"cycles", QJsonValue()},
                  {"level", QJsonValue()},
                  {"currentA", -0.38},
                  {"powerW", -1.47},
                  {"chargerW", QJsonValue()},
                  {"maximumCapacity",
                   object({{"percent", 91.49}, {"fullMah", 4012}, {"designMah", 4385}})}})},
         {"screen", object({{"width", 1080}, {"height", 2400}})}});
    const QJsonObject iphoneWanted = object(
        {{"schema", 1},
         {"serial", kIphone},
         {"kind", "ios"},
         {"type", "phone"},
         {"transport", QJsonValue()},
         {"wifiAddress", QJsonValue()},
         {"name", "Ana's iPhone"},
         {"status", "Connected to Ana's iPhone (" + kIphone +
                        ") by USB, through usbmuxd. iOS 17.5, model iPhone15,2."},
         {"address", QJsonValue()},
         {"memory", QJsonValue()},
         {"storage",
          object({{"total", 111592116224.0}, {"free", 61354827776.0}, {"usedPercent", 45.02}})},
         {"processor", object({{"type", 43620},
                               {"abis", QJsonArray{"arm64e"}},
                               {"systemOnChip", QJsonValue()},
                               {"cores", QJsonValue()}})},
         {"battery",
          object({{"present", true},
                  {"charging", false},
                  {"onMains", false},
                  {"percent", 81},
                  {"secondsLeft", 36600},
                  {"secondsToFull", QJsonValue()},
                  {"health", QJsonValue()},
                  {"temperatureC", 29.5},
                  {"voltageV", 3.912},
                  {"cycles", 212},
                  {"level", QJsonValue()},
                  {"currentA", -0.412},
                  {"powerW", -1.61},
                  {"chargerW", QJsonValue()},
                  {"maximumCapacity",
                   object({{"percent", 86.92}, {"fullMah", 2850}, {"designMah", 3279}})}})},
         {"screen", object({{"width", 1179}, {"height", 2556}})}});
    for (const QJsonObject& wanted : {phoneWanted, iphoneWanted}) {
        const QJsonObject got = bySerial.value(wanted["serial"].toString());
        EXPECT_EQ(got.keys(), wanted.keys());
        for (const QString& key : wanted.keys())
            EXPECT_EQ(got[key], wanted[key])
                << key.toStdString() << " of " << wanted["serial"].toString().toStdString();
    }
    // Samsung's way: sysfs refused, its current in dumpsys in mA; charging from a 27 W charger.
    QJsonObject charging = bySerial.value(samsung->serial())["battery"].toObject();
    for (const char* other : {"percent", "health", "temperatureC", "voltageV", "cycles", "level",
                              "maximumCapacity", "present", "secondsLeft"})
        charging.remove(QLatin1String(other));
    EXPECT_EQ(charging, object({{"charging", true},
                                {"onMains", true},
                                {"secondsToFull", 2700},
                                {"currentA", 1.45},
                                {"powerW", 5.98},
                                {"chargerW", 27}}));
    // Mains power as the window gives it: in JSON, and as "AC Line:" in the text.
    EXPECT_EQ(bySerial.value(tablet->serial())["battery"].toObject()["onMains"], QJsonValue(true));
    EXPECT_TRUE(
        run({"--report", "--serial", tablet->serial()}).out.contains("\nAC Line: Connected\n"));
    EXPECT_TRUE(
        run({"--report", "--serial", phone->serial()}).out.contains("\nAC Line: Disconnected\n"));
}

// ANDROID_SERIAL chooses the device a plain report reads, as the window shows it; --all still
// reads every one.
TEST_F(ScriptFace, AndroidSerialChoosesTheReportsDeviceButNotAllOfThem) {
    SimulatorProcess* phone = startAndroid("current_phone");
    SimulatorProcess* tablet = startAndroid("tablet_on_mains");
    iphone = harness.startIphone(QStringLiteral("current_iphone"));
    ASSERT_TRUE(phone && tablet && iphone) << harness.error().toStdString();
    for (SimulatorProcess* chosen : {phone, tablet}) {
        QProcess program;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("ANDROID_SERIAL"), chosen->serial());
        for (const bool all : {false, true}) {
            program.setProcessEnvironment(env);
            program.start(QStringLiteral(DEVICE_INFO_EXE),
                          all ? QStringList{"--report", "--json", "--all"}
                              : QStringList{"--report", "--json"});
            ASSERT_TRUE(program.waitForFinished(20000));
            EXPECT_EQ(program.exitCode(), 0);
            const QJsonDocument out = QJsonDocument::fromJson(program.readAllStandardOutput());
            if (all)
                EXPECT_EQ(out.array().size(), 3);
            else
                EXPECT_EQ(out.object()["serial"].toString(), chosen->serial());
        }
    }
}

TEST_F(ScriptFace, NothingAttachedListsNothingAndReportsWhyNot) {
    const Ran list = run({"--list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, QString());
    EXPECT_EQ(list.err, QString()) << "an adb server with nothing attached is no trouble";
    const Ran report = run({"--report"});
    EXPECT_EQ(report.status, 1);
    EXPECT_EQ(report.out, QString());
    EXPECT_EQ(report.err, "device-info: no device is ready\n");
    const Ran absent = run({"--report", "--json", "--serial", "R58M12ABCDE"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err, "device-info: R58M12ABCDE is not attached\n");
    EXPECT_EQ(run({"--report", "--wait", "soon"}).status, 2);
    // No wait at all is a wait of 0 s: a report of what is attached now.
    const Ran now = run({"--report", "--wait", "0"});
    EXPECT_EQ(now.status, 1);
    EXPECT_EQ(now.err, "device-info: no device is ready\n");
}

// A device that hangs is reported as such, within the deadline; the others are read.
TEST_F(ScriptFace, AHungDeviceFailsItsReportSayingWhy) {
    SimulatorProcess* phone = startAndroid("current_phone");
    SimulatorProcess* tablet = startAndroid("tablet_on_mains");
    ASSERT_TRUE(phone && tablet);
    ASSERT_EQ(phone->control("hang"), "ok");
    const Ran all = run({"--report", "--all", "--json"});
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(all.err,
              "device-info: reading " + phone->serial() + " failed: no answer within 3 s\n");
    EXPECT_EQ(QJsonDocument::fromJson(all.out.toUtf8()).array().size(), 1);
}

// Where no adb server answers on this computer, a script's listing starts one.
TEST_F(ScriptFace, AListingStartsAnAdbServerWhereNoneAnswers) {
    const quint16 port = freePort();
    QProcess program;
    QProcessEnvironment env = environment();
    QTemporaryDir home;
    env.insert("HOME", home.path());
    env.insert("ADB_SERVER_SOCKET", QStringLiteral("tcp:127.0.0.1:%1").arg(port));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DEVICE_INFO_EXE), {"--list"});
    ASSERT_TRUE(program.waitForFinished(20000));
    const QString err = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(program.exitCode(), 0) << err.toStdString();
    EXPECT_FALSE(err.contains("device-info: no adb server"))
        << "the first try's failure is not said after the "
           "second answered: "
        << err.toStdString();
    const adb::ServerAddress started{QStringLiteral("127.0.0.1"), port};
    QString why;
    EXPECT_TRUE(adb::listDevices(started, {1000, 4096}, &why).has_value()) << why.toStdString();
    QProcess::execute("adb", {"-P", QString::number(port), "kill-server"});
}

TEST_F(ScriptFace, WaitReadsADeviceThatConnectsLater) {
    SimulatorProcess* phone = startAndroid("current_phone");
    ASSERT_NE(phone, nullptr);
    ASSERT_TRUE(harness.disconnect(*phone));
    QProcess program;
    start(program, {"--report", "--json", "--wait", "5", "--serial", phone->serial()});
    QTest::qWait(3000); // it is still waiting
    EXPECT_EQ(program.state(), QProcess::Running);
    ASSERT_TRUE(harness.connect(*phone));
    ASSERT_TRUE(program.waitForFinished(15000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(program.readAllStandardOutput()).object().value("name"),
              "Lab-07");
}

} // namespace
