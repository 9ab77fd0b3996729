// Battery care as a desktop sees it: a session bus of the test's own, with a notification service
// that records each call, and a simulated phone whose charge and temperature change while the
// window watches it.
#include "care/care_watch.h"
#include "care/desktop_notifier.h"
#include "care/keep_watch.h"
#include "desktop/battery_care.h"
#include "desktop/notifications_dialog.h"
#include "device_link/combined_link.h"
#include "device_link/upower/upower_link.h"
#include "e2e_fixture.h"
#include "report/reading_values.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>

namespace {

// What the desktop's notification service was asked.
struct Call {
    uint replaces;
    QString icon;
    QString summary;
    QVariantMap hints;
};

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<Call> calls;

public slots:
    uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary,
                const QString&, const QStringList&, const QVariantMap& hints, int) {
        calls.push_back({replaces, icon, summary, hints});
        return replaces ? replaces : uint(calls.size());
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec) {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        spec = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }
};

class BatteryCareEndToEnd : public EndToEnd {
protected:
    // A session bus of this test's own, for everything in this process; with the recording
    // service on it where WITH_SERVICE.
    void startBus(bool withService) {
        bus.setProcessChannelMode(QProcess::SeparateChannels);
        bus.start(QStringLiteral("dbus-daemon"),
                  {"--session", "--nofork", "--print-address=1", "--nopidfile"});
        ASSERT_TRUE(bus.waitForReadyRead(10000)) << "Debian's dbus-daemon is not installed";
        const QByteArray address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        if (!withService)
            return;
        QDBusConnection own = QDBusConnection::connectToBus(QString::fromUtf8(address), "service");
        ASSERT_TRUE(own.registerObject("/org/freedesktop/Notifications", &service,
                                       QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(own.registerService("org.freedesktop.Notifications"));
    }

    void TearDown() override {
        care.reset();
        QDBusConnection::disconnectFromBus("service");
        bus.terminate();
        bus.waitForFinished(5000);
    }

    // The window on a phone of the private adb server, watched as LIMITS say, every 100 ms.
    void watch(const care::Limits& limits) {
        auto android = std::make_unique<AdbLink>(harness.socketSpec());
        onHarness(*android);
        std::vector<CombinedLink::Kind> kinds;
        kinds.push_back({QStringLiteral("Android:"), std::move(android)});
        auto combined = std::make_unique<CombinedLink>(std::move(kinds));
        link = combined.get();
        openWindowWith(std::move(combined));
        care = std::make_unique<desktop::BatteryCare>(*form, *link, settings.filePath("care.conf"),
                                                      settings.filePath("care-state.json"),
                                                      [this] { return now; });
        care->setLimits(limits);
        care->setIntervalMs(100);
    }

    QProcess bus;
    NotificationService service;
    QTemporaryDir settings;
    CombinedLink* link = nullptr;
    std::unique_ptr<desktop::BatteryCare> care;
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);
};

TEST_F(BatteryCareEndToEnd, EachNotificationArrivesOnceWithItsWordsUrgencyAndPlace) {
    startBus(true);
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    watch({80, 20, 40, 60});
    ASSERT_TRUE(waitUntil([&] { return connectedLook(); }));
    const auto set = [&](const QString& key, const QString& value) {
        ASSERT_EQ(phone->control("set " + key + ' ' + value), "ok");
    };
    const auto shows = [&](float level) {
        return waitUntil([&] { return bar("BatteryLifeBar") == level; }, 5000);
    };
    // Charging up to the limit, and past it.
    set("battery.charging", "1");
    set("battery.level", "79");
    ASSERT_TRUE(shows(79)) << "the power panel follows each read";
    EXPECT_EQ(text("BatteryStatusLabel"), "Charging");
    set("battery.level", "80");
    ASSERT_TRUE(waitUntil([&] { return service.calls.size() == 1; }, 5000));
    EXPECT_TRUE(shows(80)) << "the window agrees with the notification";
    set("battery.level", "81");
    ASSERT_TRUE(shows(81));
    // Hot; then cooler, and hot again: not armed again until 3 °C below.
    set("battery.temperature", "43");
    ASSERT_TRUE(waitUntil([&] { return service.calls.size() == 2; }, 5000));
    set("battery.temperature", "39");
    set("battery.level", "82");
    ASSERT_TRUE(shows(82));
    set("battery.temperature", "44");
    set("battery.level", "83");
    ASSERT_TRUE(shows(83));
    // Unplugged and plugged in again a quarter of an hour later: it replaces the first in place.
    set("battery.charging", "0");
    set("battery.level", "84");
    ASSERT_TRUE(shows(84));
    now = now.addSecs(15 * 60);
    set("battery.charging", "1");
    set("battery.level", "85");
    ASSERT_TRUE(waitUntil([&] { return service.calls.size() == 3; }, 5000));
    QTest::qWait(500);

    ASSERT_EQ(service.calls.size(), 3u);
    const struct {
        uint replaces;
        const char* summary;
        uchar urgency;
    } expected[] = {
        {0, "Lab-07 reached 80% — unplug it to spare the battery", 1},
        {0, "Lab-07's battery is at 43 °C", 2},
        {1, "Lab-07 reached 85% — unplug it to spare the battery", 1},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const Call& call = service.calls[i];
        EXPECT_EQ(call.replaces, expected[i].replaces) << i;
        EXPECT_EQ(call.summary, QString::fromUtf8(expected[i].summary)) << i;
        EXPECT_EQ(call.icon, "org.deviceinfo.DeviceInfo");
        EXPECT_EQ(call.hints.value("urgency").value<uchar>(), expected[i].urgency) << i;
        EXPECT_EQ(call.hints.value("category").toString(), "device");
        EXPECT_EQ(call.hints.value("desktop-entry").toString(), "org.deviceinfo.DeviceInfo");
    }
}

// No notification service on the bus: the window goes on, the dialog says so, and standard
// error says it once.
TEST_F(BatteryCareEndToEnd, WithoutAServiceTheWindowGoesOnAndTheDialogSaysSo) {
    startBus(false);
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    CapturedStderr said;
    watch({80, 0, 40, 60});
    ASSERT_TRUE(waitUntil([&] { return connectedLook(); }));
    ASSERT_EQ(phone->control("set battery.charging 1"), "ok");
    ASSERT_EQ(phone->control("set battery.level 90"), "ok");
    ASSERT_EQ(phone->control("set battery.temperature 45"), "ok");
    EXPECT_TRUE(waitUntil([&] { return bar("BatteryLifeBar") == 90.0f; }, 5000));
    desktop::NotificationsDialog dialog(*care, form.get());
    dialog.show();
    QLabel* none = nullptr;
    EXPECT_TRUE(waitUntil(
        [&] {
            for (QLabel* label : dialog.findChildren<QLabel*>()) {
                if (label->text() == "This desktop shows no notifications." && label->isVisible())
                    none = label;
            }
            return none != nullptr;
        },
        8000));
    refresh()->click();
    EXPECT_EQ(failures->count(), 0) << "the window works on";
    const QStringList lines = said.lines().filter("notifications");
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("device-info: this desktop shows no notifications ("));
}

// A headset's battery is read for battery care as a phone's is: what UPower said last.
TEST(UPowerBattery, AHeadsetsBatteryIsReadFromWhatUPowerSaid) {
    QProcess peripherals;
    peripherals.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tools/device_sim/peripherals.py")});
    QByteArray line;
    while (!line.startsWith("DBUS_SYSTEM_BUS_ADDRESS=") && peripherals.waitForReadyRead(20000))
        line = peripherals.readLine().trimmed();
    ASSERT_TRUE(line.startsWith("DBUS_SYSTEM_BUS_ADDRESS=")) << "python3-dbusmock is missing";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", line.mid(line.indexOf('=') + 1));
    UPowerLink link;
    std::optional<DeviceReading> battery;
    QObject::connect(&link, &KindLink::batteryRead, [&](const DeviceReading& r) { battery = r; });
    const QDeadlineTimer deadline(10000);
    for (bool asked = false; !battery && !deadline.hasExpired(); QTest::qWait(20)) {
        if (!asked && link.statusText().startsWith("Connected to Evolve2 65"))
            link.readBattery(), asked = true;
    }
    ASSERT_TRUE(battery) << link.statusText().toStdString();
    EXPECT_EQ(battery->serial, "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(report::batteryValues(*battery).percent, 57.0);

    // It goes while the mouse stays: it is let go, and the mouse is shown in its place.
    std::vector<qint32> codes;
    QObject::connect(&link, &Pelorin::ConnectionEvent,
                     [&codes](qint32 code, const QString&) { codes.push_back(code); });
    ::kill(pid_t(peripherals.processId()), SIGUSR2);
    for (const QDeadlineTimer gone(10000); codes.size() < 2 && !gone.hasExpired();)
        QTest::qWait(20);
    EXPECT_EQ(codes, (std::vector<qint32>{Pelorin::EventRemoved, Pelorin::EventConnected}));
    EXPECT_EQ(link.followedSerial(), "hidpp_battery_0");
    peripherals.terminate();
    peripherals.waitForFinished(10000);
}

// What Notifications... ends: a watcher of this test's own, which counts its Quit calls.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.deviceinfo.DeviceInfo.Care")
public:
    int quits = 0;
public slots:
    void Quit() { ++quits; }
};

// The watcher with no window follows its settings file as it is written anew, and reads
// nothing while every notice is off; the dialog's part sees a watcher come, keeps the autostart
// entry, and ends the watcher.
TEST_F(BatteryCareEndToEnd, TheWatcherFollowsItsSettingsAndTheDialogEndsIt) {
    startBus(false);
    // The process's session bus is the first test's: this test's own, by its address.
    const QDBusConnection mine = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "keep-watch");
    const QString conf = settings.filePath("device-info/device-info.conf");
    const auto write = [&conf](const QByteArray& text) {
        QDir().mkpath(QFileInfo(conf).path());
        QSaveFile file(conf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        ASSERT_TRUE(file.commit());
    };
    write("[notifications]\nlowPercent=20\nintervalSeconds=30\n");
    care::CareWatch::Options options;
    options.settingsPath = conf;
    options.statePath = settings.filePath("state.json");
    options.watch.server = harness.server();
    options.watch.mayStartServer = false;
    options.say = [](const QString&) {};
    care::CareWatch watch(options, mine);
    watch.start();
    ASSERT_TRUE(watch.watch());
    EXPECT_EQ(watch.watch()->intervalMs(), 30000);
    write("[notifications]\nintervalSeconds=30\n");
    EXPECT_TRUE(waitUntil([&] { return !watch.watching(); }, 5000));
    write("[notifications]\nhotCelsius=40\nintervalSeconds=10\n");
    EXPECT_TRUE(
        waitUntil([&] { return watch.watch() && watch.watch()->intervalMs() == 10000; }, 5000));

    care::KeepWatch keep(mine, settings.filePath("autostart/care.desktop"));
    EXPECT_FALSE(keep.running());
    EXPECT_FALSE(keep.keeps());
    QDBusConnection other =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "watcher");
    Watcher watcher;
    ASSERT_TRUE(other.registerObject(care::kCarePath, &watcher, QDBusConnection::ExportAllSlots));
    bool running = false;
    QObject::connect(&keep, &care::KeepWatch::runningChanged, [&running](bool r) { running = r; });
    ASSERT_TRUE(other.registerService(care::kCareName));
    EXPECT_TRUE(waitUntil([&] { return running; }, 5000));
    EXPECT_TRUE(keep.running());
    EXPECT_EQ(keep.setKeeps(true), QString()); // one runs: none is started
    EXPECT_TRUE(keep.keeps());
    EXPECT_EQ(keep.setKeeps(false), QString());
    EXPECT_FALSE(keep.keeps());
    EXPECT_TRUE(waitUntil([&] { return watcher.quits == 1; }, 5000));
    other.unregisterService(care::kCareName);
    EXPECT_TRUE(waitUntil([&] { return !running; }, 5000));

    // A notice due while no service answers is sent once one does.
    care::DesktopNotifier notifier(mine);
    notifier.show({care::Kind::Low, "A", "A is down to 15%"});
    EXPECT_TRUE(waitUntil([&] { return notifier.available() == false; }, 5000));
    QDBusConnection own =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "service");
    ASSERT_TRUE(own.registerObject("/org/freedesktop/Notifications", &service,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(own.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(waitUntil([&] { return !service.calls.empty(); }, 10000));
    EXPECT_EQ(service.calls.front().summary, "A is down to 15%");
    QDBusConnection::disconnectFromBus("watcher");
    QDBusConnection::disconnectFromBus("keep-watch");
}

} // namespace

#include "test_battery_care.moc"
