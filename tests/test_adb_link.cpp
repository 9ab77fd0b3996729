#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_link.h"
#include "device_link/adb/server_starter.h"
#include "device_link/adb/wifi_keeper.h"
#include "display/form1.h"
#include "fake_adb_server.h"
#include "fixture.h"
#include "layout/progress_bar.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Event = std::pair<int, QString>;
using Reply = FakeAdbServer::Reply;

const QByteArray kPhone = "0123456789ABCDEF       device usb:1-1 product:lynx model:Pixel_7a "
                          "device:lynx transport_id:3\n";

class AdbLinkTest : public ::testing::Test {
protected:
    AdbLinkTest() {
        server.start();
        server.setCommand(adb::command::Address, {Reply::Output, "::\n"});
    }

    // A link with short timings, its events recorded.
    void startLink(std::unique_ptr<AdbLink> owned = nullptr) {
        if (!owned)
            owned = makeLink();
        link = owned.get();
        QObject::connect(link, &Pelorin::ConnectionEvent, [this](qint32 code, const QString& text) {
            events.emplace_back(code, text);
        });
        holder = std::move(owned);
    }

    std::unique_ptr<AdbLink> makeLink() {
        auto made = std::make_unique<AdbLink>(server.socketSpec());
        made->setMayStartServer(false);
        made->setTiming({.pollMs = 100, .backoffMinMs = 20, .backoffMaxMs = 100, .answerMs = 500});
        made->setLimits({.deadlineMs = 700, .maxBytes = 256 * 1024});
        return made;
    }

    // Lets the event loop run until n events have arrived, or the time is up.
    bool waitForEvents(std::size_t n, int ms = 4000) {
        const QDeadlineTimer deadline(ms);
        while (events.size() < n && !deadline.hasExpired())
            QTest::qWait(10);
        return events.size() >= n;
    }

    // Runs the event loop for a while, for checking that nothing more happens.
    static void settle(int ms = 400) { QTest::qWait(ms); }

    FakeAdbServer server;
    std::unique_ptr<Pelorin> holder;
    AdbLink* link = nullptr;
    std::vector<Event> events;
};

TEST_F(AdbLinkTest, ReadyDeviceRaisesConnectedThenItsAddress) {
    server.setCommand(adb::command::Address,
                      {Reply::Output, fixture("ip_addr_phone.txt").toUtf8() + "::\n"});
    server.setDevices(kPhone);
    startLink();
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {5, "10.161.5.77"}}));
    EXPECT_EQ(link->followedSerial(), "0123456789ABCDEF");
    settle();
    EXPECT_EQ(events.size(), 2u) << "the slow state check raises nothing new";
}

TEST_F(AdbLinkTest, NetworkDeviceAddressComesFromItsSerial) {
    server.setDevices("192.168.1.23:5555      device product:x model:y transport_id:9\n");
    startLink();
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {5, "192.168.1.23"}}));
    EXPECT_EQ(server.commandsRun(adb::command::Address), 0);
}

TEST_F(AdbLinkTest, DeviceWithoutAddressRaisesNoCodeFive) {
    server.setCommand(adb::command::Address,
                      {Reply::Output, fixture("ip_addr_loopback_only.txt").toUtf8() + "::\n"});
    server.setDevices(kPhone);
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    settle();
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}}));
}

TEST_F(AdbLinkTest, RemovalRaisesTwoAndTheNextReadyDeviceIsFollowed) {
    server.setDevices("first\tdevice\nsecond\tdevice\n");
    // No slow check comes to help: the next device is followed from the same list.
    auto owned = makeLink();
    owned->setTiming({.pollMs = 60000, .backoffMinMs = 20, .backoffMaxMs = 100, .answerMs = 500});
    startLink(std::move(owned));
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(link->followedSerial(), "first");
    server.setDevices("second\tdevice\n");
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {2, ""}, {0, ""}}));
    EXPECT_EQ(link->followedSerial(), "second");
    server.setDevices("");
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events.back(), Event(2, ""));
    EXPECT_TRUE(link->followedSerial().isEmpty());
    // Nothing shown: the combining link must not take this kind for one with a device.
    EXPECT_FALSE(link->hasDevice());
}

TEST_F(AdbLinkTest, StateChangesTheServerDoesNotPushAreSeenByTheSlowCheck) {
    server.setDevices("phone\tdevice\n");
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    server.setDevices("phone\toffline\n", /*pushToTrackers=*/false);
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events[1], Event(4, ""));
    server.setDevices("phone\tdevice\n", false);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[2], Event(0, ""));
}

TEST_F(AdbLinkTest, SlowCheckAnsweringWithAnOlderListDoesNotBringAGoneDeviceBack) {
    server.setDevices("phone\tdevice\n");
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    server.setPollDelay(150); // each slow check now answers with the list from when it asked
    settle(120);              // one is under way
    server.setDevices("");
    ASSERT_TRUE(waitForEvents(2));
    settle(500);
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {2, ""}}));
}

TEST_F(AdbLinkTest, UnauthorizedDeviceIsNotedOnceAndFollowedWhenAllowed) {
    server.setDevices("phone\tunauthorized\n");
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    settle(); // several slow checks pass
    EXPECT_EQ(events, (std::vector<Event>{{1, ""}}));
    server.setDevices("phone\tdevice\n");
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events[1], Event(0, ""));
}

TEST_F(AdbLinkTest, StatusNamesEachUnusableStateAsTheServerListsItOncePerChange) {
    startLink();
    QSignalSpy changes(link, &AdbLink::statusChanged);
    const struct {
        QByteArray line;
        const char* says;
        const char* neverSays = nullptr;
    } cases[] = {
        {"R58M12ABCDE            no permissions (user in plugdev group; are your udev rules "
         "wrong?); see [http://developer.android.com/tools/device.html] usb:1-2 transport_id:7\n",
         "R58M12ABCDE is \"no permissions\""},
        {"R58M12ABCDE\tno device\n", "R58M12ABCDE is \"no device\""},
        {"R58M12ABCDE            unauthorized usb:1-2 transport_id:7\n", "\"unauthorized\""},
        {"R58M12ABCDE            sleepy usb:1-2 transport_id:7\n", "\"sleepy\""},
        {kPhone, "Connected to Pixel 7a (0123456789ABCDEF) by USB"},
        // A second device comes and goes while the first is followed: the link over both
        // kinds says so, with how to choose.
        {kPhone + "emulator-5554\tdevice\n", "Connected to Pixel 7a (0123456789ABCDEF) by USB",
         "ANDROID_SERIAL"},
        {kPhone, "Connected to Pixel 7a (0123456789ABCDEF) by USB", "another device"},
    };
    for (const auto& c : cases) {
        server.setDevices(c.line);
        const QDeadlineTimer deadline(3000);
        const auto reached = [&] {
            return link->statusText().contains(QLatin1String(c.says)) &&
                   !(c.neverSays && link->statusText().contains(QLatin1String(c.neverSays)));
        };
        while (!reached() && !deadline.hasExpired())
            QTest::qWait(10);
        EXPECT_TRUE(link->statusText().contains(QLatin1String(c.says)))
            << link->statusText().toStdString();
        EXPECT_TRUE(link->statusText().contains(server.socketSpec().mid(4)));
        if (c.neverSays) {
            EXPECT_FALSE(link->statusText().contains(QLatin1String(c.neverSays)))
                << link->statusText().toStdString();
        }
        const qsizetype said = changes.count();
        settle(300); // several slow checks pass
        EXPECT_EQ(changes.count(), said) << "said again without a change: " << c.says;
    }
    EXPECT_EQ(changes.last().at(0).toString(), link->statusText());
}

TEST_F(AdbLinkTest, LostServerRaisesSevenAndAReadyDeviceAgainAfterItReturns) {
    server.setDevices(kPhone);
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    server.stop();
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events[1], Event(7, ""));
    EXPECT_FALSE(link->hasDevice());
    settle(); // failed reconnections raise nothing more
    EXPECT_EQ(events.size(), 2u);
    server.start();
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[2], Event(0, ""));
}

TEST_F(AdbLinkTest, BadTrackingDataDropsTheConnectionAndReconnects) {
    struct Case {
        const char* name;
        QByteArray bytes;
        bool close;
    };
    const Case cases[] = {{"length that is not hex", "zzzzjunk", false},
                          {"message cut by a close", "0040emulator-55", true}};
    server.setDevices(kPhone);
    startLink();
    ASSERT_TRUE(waitForEvents(1));
    std::size_t seen = 1;
    for (const Case& c : cases) {
        server.sendToTrackers(c.bytes, c.close);
        ASSERT_TRUE(waitForEvents(seen + 2)) << c.name;
        EXPECT_EQ(events[seen], Event(7, "")) << c.name;
        EXPECT_EQ(events[seen + 1], Event(0, "")) << c.name;
        seen += 2;
    }
}

TEST_F(AdbLinkTest, TrackUpdateListingTenThousandDevicesIsReadWhole) {
    // Three-character serials in an unusable state keep the list inside one 64 KiB frame.
    QByteArray list;
    for (int i = 0; i < 9999; ++i)
        list += QByteArray::number(i + 46656, 36).right(3) + " x\n";
    list += "ready\tdevice\n";
    ASSERT_LE(list.size(), 0xffff);
    startLink();
    settle(100);
    server.setDevices(list);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events[0], Event(0, ""));
    EXPECT_EQ(link->followedSerial(), "ready");
}

TEST_F(AdbLinkTest, RefusedTrackingKeepsTrying) {
    server.setRefuseTracking(true);
    server.setDevices(kPhone);
    startLink();
    settle();
    EXPECT_TRUE(events.empty());
    server.setRefuseTracking(false);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events[0], Event(0, ""));
}

TEST_F(AdbLinkTest, ServerThatNeverAnswersRaisesNothingAndQueriesSayNoDevice) {
    server.setSilent(true);
    server.setDevices(kPhone);
    startLink();
    settle(800);
    EXPECT_TRUE(events.empty());
    DeviceValue total, available;
    try {
        link->GetMemoryStatus(total, available);
        FAIL() << "no exception";
    } catch (const DeviceLinkError& e) {
        EXPECT_STREQ(e.what(), "No device is connected.");
    }
}

class AdbQueries : public AdbLinkTest {
protected:
    void SetUp() override {
        server.setDevices(kPhone);
        startLink();
        ASSERT_TRUE(waitForEvents(1));
    }

    // The query's failure message, or "" when it answered.
    template <typename Query> std::string failureOf(Query&& query) {
        try {
            query();
        } catch (const DeviceLinkError& e) {
            return e.what();
        }
        return {};
    }
};

TEST_F(AdbQueries, HungDeviceFailsWithinTheDeadlineNamingQueryAndDevice) {
    server.setCommand(adb::command::Memory, {Reply::Hang, {}});
    QElapsedTimer clock;
    clock.start();
    const std::string message = failureOf([this] {
        DeviceValue a, b;
        link->GetMemoryStatus(a, b);
    });
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_NE(message.find("GetMemoryStatus"), std::string::npos) << message;
    EXPECT_NE(message.find("0123456789ABCDEF"), std::string::npos) << message;
    EXPECT_NE(message.find("no answer"), std::string::npos) << message;
}

TEST_F(AdbQueries, FloodingDeviceIsCutAtTheCap) {
    server.setCommand(adb::command::Processor, {Reply::Flood, {}});
    const std::string message = failureOf([this] { link->ProcessorType(); });
    EXPECT_NE(message.find("more than 256 KiB"), std::string::npos) << message;
}

TEST_F(AdbQueries, RefusedCommandFails) {
    server.setCommand(adb::command::Screen, {Reply::Fail, "device offline"});
    server.setRefuseExec(false);
    const std::string message = failureOf([this] { link->GetSystemMetric(0); });
    EXPECT_NE(message.find("device offline"), std::string::npos) << message;
}

TEST_F(AdbQueries, OlderDevicesAndServersFallBackToShellAndTransport) {
    server.setRefuseExec(true);
    server.setUnknownTport(true);
    server.setCommand(adb::command::Memory,
                      {Reply::Output, fixture("meminfo_android4_crlf.txt").toUtf8()});
    DeviceValue total, available;
    EXPECT_TRUE(link->GetMemoryStatus(total, available).toBool());
    EXPECT_EQ(total.toDouble(), 828408.0 * 1024);
    const QList<QByteArray> requests = server.requests();
    EXPECT_TRUE(requests.contains("host:transport:0123456789ABCDEF"));
    EXPECT_TRUE(requests.contains("shell:" + adb::command::Memory));
}

TEST_F(AdbQueries, AnswersThatSayNothingAreFalseOrZero) {
    server.setDefaultOutput("/system/bin/sh: x: not found\n");
    DeviceValue a, b, c, d;
    EXPECT_FALSE(link->GetMemoryStatus(a, b).toBool());
    EXPECT_FALSE(link->GetStorageStatus(a, b).toBool());
    EXPECT_FALSE(link->GetPowerStatus(a, b, c, d).toBool());
    EXPECT_EQ(link->ProcessorType().toInt32(), 0);
    EXPECT_EQ(link->ACLineStatus().toInt32(), 255);
    EXPECT_EQ(link->GetSystemMetric(1).toInt32(), 0);
    EXPECT_EQ(link->GetSystemMetric(7).toInt32(), 0);
    EXPECT_TRUE(link->ReadRegistryValue(2, "IDENT", "name").isString());
    EXPECT_TRUE(link->ReadRegistryValue(1, "IDENT", "name").isNothing());
}

TEST_F(AdbLinkTest, WindowShowsEveryPanelFromTheDevicesOutputs) {
    server.setCommand(adb::command::Name, {Reply::Output, "null\n::\nPixel 7a\n"});
    server.setCommand(adb::command::Memory,
                      {Reply::Output, fixture("meminfo_android14.txt").toUtf8()});
    server.setCommand(adb::command::Storage,
                      {Reply::Output, "::\n" + fixture("df_k_android14.txt").toUtf8()});
    server.setCommand(adb::command::Processor, {Reply::Output, "arm64-v8a\n::\naarch64\n"});
    server.setCommand(
        adb::command::Power,
        {Reply::Output, fixture("dumpsys_battery_android14.txt").toUtf8() + "::\n::\n5400\n"});
    server.setCommand(adb::command::Screen,
                      {Reply::Output, fixture("wm_size_override.txt").toUtf8()});
    server.setCommand(adb::command::Address,
                      {Reply::Output, "::\n" + fixture("ip_route_crlf.txt").toUtf8()});
    server.setDevices(kPhone);
    auto owned = makeLink();
    link = owned.get();
    Form1 form(std::move(owned));
    auto text = [&form](const char* name) {
        return form.findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    const QDeadlineTimer deadline(4000);
    while (text("IPAddrLabel").isEmpty() && !deadline.hasExpired())
        QTest::qWait(10);
    EXPECT_EQ(text("IPAddrLabel"), "192.168.1.23");
    EXPECT_EQ(form.windowTitle(), "Device Info (Pixel 7a)");
    EXPECT_EQ(text("MemoryLabel"), "8,156,930,048 bytes");
    EXPECT_EQ(text("AvailableLabel"), "3,310,448,640 bytes");
    EXPECT_EQ(text("StorageLabel"), "117,439,594,496 bytes");
    EXPECT_EQ(text("StorageFreeLabel"), "73,055,395,840 bytes");
    EXPECT_EQ(text("ProcessorLabel"), "Unknown");
    EXPECT_EQ(text("BatteryStatusLabel"), "Charging");
    EXPECT_EQ(text("BatteryLifeLabel"), "Unknown");
    EXPECT_EQ(text("BatteryFullTimeLabel"), "1 hour  30 min");
    EXPECT_EQ(form.findChild<ProgressBar*>("BatteryLifeBar")->value(), 76.0f);
    EXPECT_EQ(text("ACLineStatusLabel"), "Connected");
    EXPECT_EQ(text("ScreenWidthLabel"), " 720 pixels");
    EXPECT_EQ(text("ScreenHeightLabel"), " 1600 pixels");

    server.setDevices("");
    const QDeadlineTimer gone(4000);
    while (!text("MemoryLabel").isEmpty() && !gone.hasExpired())
        QTest::qWait(10);
    EXPECT_EQ(text("MemoryLabel"), QString());
    EXPECT_EQ(form.windowTitle(), "Device Info");
}

TEST_F(AdbLinkTest, DeviceThatGoesWhileItIsReadIsNeverShown) {
    server.setCommand(adb::command::Memory, {Reply::Hang, {}}); // the first answers wait
    server.setDevices(kPhone);
    startLink();
    // Gone only once the read waits on it: gone earlier, every answer fails at once and may
    // come in before the list that says so.
    const QDeadlineTimer deadline(2000);
    while (server.commandsRun(adb::command::Memory) == 0 && !deadline.hasExpired())
        QTest::qWait(10);
    ASSERT_TRUE(link->statusText().startsWith("Reading")) << link->statusText().toStdString();
    server.setDevices("");
    settle(1200); // past the query deadline, when the answers come in
    EXPECT_TRUE(events.empty()) << "no code 0 for it, and so no code 2";
    EXPECT_TRUE(link->statusText().startsWith("No device")) << link->statusText().toStdString();
}

// Forgotten while its check waits on the device list, an address is not connected after it.
TEST_F(AdbLinkTest, WifiAddressForgottenMidCheckIsNotConnected) {
    server.setPollDelay(300);
    WifiKeeper keeper({QStringLiteral("127.0.0.1"), server.port()});
    keeper.keep(QStringLiteral("192.168.1.9:5555"));
    const QDeadlineTimer listing(2000);
    while (!server.requests().contains("host:devices-l") && !listing.hasExpired())
        QTest::qWait(5);
    keeper.forget(QStringLiteral("192.168.1.9:5555"));
    settle(700);
    EXPECT_EQ(server.requests(), QList<QByteArray>{"host:devices-l"});

    // Forgotten and kept again mid-check: the new entry waits for that check to end, and is not
    // told what befell the one forgotten.
    QStringList said;
    QObject::connect(&keeper, &WifiKeeper::said, [&said](const QString& line) { said << line; });
    keeper.keep(QStringLiteral("192.168.1.9:5555"));
    while (server.requests().count("host:devices-l") < 2 && !listing.hasExpired())
        QTest::qWait(5);
    keeper.forget(QStringLiteral("192.168.1.9:5555"));
    keeper.keep(QStringLiteral("192.168.1.9:5555"));
    settle(100);
    EXPECT_EQ(server.requests().count("host:devices-l"), 2) << "one check at a time";
    settle(1500);
    EXPECT_FALSE(said.join(u' ').contains("Forgotten")) << said.join(u' ').toStdString();
}

TEST_F(AdbLinkTest, FailedCommandFailsOnlyItsOwnQueryOfTheRefresh) {
    server.setCommand(adb::command::Memory,
                      {Reply::Output, fixture("meminfo_android14.txt").toUtf8()});
    server.setCommand(adb::command::Power, {Reply::Output, "::\n::\n"});
    server.setCommand(adb::command::Screen, {Reply::Fail, "device offline"});
    server.setDevices(kPhone);
    auto owned = makeLink();
    link = owned.get();
    Form1 form(std::move(owned));
    QSignalSpy failures(&form, &Form1::failureReported);
    ASSERT_TRUE(failures.wait(4000));
    const QString message = failures.last().at(0).toString();
    EXPECT_TRUE(message.contains("GetSystemMetric") && message.contains("device offline"))
        << message.toStdString();
    // Everything the refresh reached before the screen is shown, as it would be without it.
    EXPECT_EQ(form.findChild<QLabel*>("MemoryLabel")->text(), "8,156,930,048 bytes");
    EXPECT_EQ(form.findChild<QLabel*>("ACLineStatusLabel")->text(), "Unknown");
    EXPECT_EQ(form.findChild<QLabel*>("ScreenWidthLabel")->text(), "");
    // Each command once ("wm size" twice: a refused exec: is tried again as shell:).
    for (const QByteArray& command : adb::command::RefreshSet)
        EXPECT_EQ(server.commandsRun(command), command == adb::command::Screen ? 2 : 1)
            << command.constData();
}

// The one piece that starts an adb server, with an adb of the test's own that only says how it
// was started, on a clock the test moves: again only once the last start has ended, a second
// later, then twice as long each time up to a minute, and at once after one answered.
TEST(AdbServerStarter, StartsAgainOnceTheLastEndedWaitingLongerEachTime) {
    QTemporaryDir bin;
    const auto fakeAdb = [&bin](const QByteArray& script) {
        QFile adb(bin.filePath("adb"));
        ASSERT_TRUE(adb.open(QIODevice::WriteOnly | QIODevice::Truncate));
        adb.write("#!/bin/sh\necho \"$@\" >>\"$0.log\"\n" + script);
        adb.close();
        adb.setPermissions(QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    };
    fakeAdb({});
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    using Outcome = adb::ServerStarter::Outcome;
    using Lifetime = adb::ServerStarter::Lifetime;
    EXPECT_EQ(adb::ServerStarter({"192.168.1.5", 5037}, Lifetime::Daemon).noneAnswers(),
              Outcome::NotLocal);
    adb::ServerStarter child({"127.0.0.1", 5038}, Lifetime::Child);
    EXPECT_EQ(child.noneAnswers(), Outcome::Started);
    adb::ServerStarter starter({"localhost", 5037}, Lifetime::Daemon);
    qint64 now = 0;
    starter.setClock([&now] { return now; });
    const auto at = [&](qint64 ms) {
        now = ms;
        const Outcome outcome = starter.noneAnswers();
        if (outcome == Outcome::Started)
            starter.waitForStarted(5000);
        return outcome;
    };
    // Started at 0, 1, 3, 7, 15, 31 and 63 s; then a minute apart.
    const std::pair<qint64, Outcome> steps[] = {
        {0, Outcome::Started},      {999, Outcome::Waiting},    {1000, Outcome::Started},
        {2999, Outcome::Waiting},   {3000, Outcome::Started},   {7000, Outcome::Started},
        {15000, Outcome::Started},  {31000, Outcome::Started},  {62999, Outcome::Waiting},
        {63000, Outcome::Started},  {122999, Outcome::Waiting}, {123000, Outcome::Started},
        {182999, Outcome::Waiting}, {183000, Outcome::Started},
    };
    for (const auto& [ms, outcome] : steps)
        EXPECT_EQ(at(ms), outcome) << ms;
    starter.answers();
    EXPECT_EQ(at(183001), Outcome::Started) << "at once after one answered";
    EXPECT_EQ(at(184000), Outcome::Waiting) << "and a second later";
    EXPECT_EQ(at(184001), Outcome::Started);
    child.waitForStarted(5000);
    QFile log(bin.filePath("adb.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList started = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(started.count("-P 5037 start-server"), 11);
    EXPECT_EQ(started.count("-P 5038 nodaemon server"), 1);

    // An adb that hangs as it starts holds the end of a window or a script a second at most.
    fakeAdb("sleep 30\n");
    QElapsedTimer clock;
    {
        adb::ServerStarter hung({"127.0.0.1", 5039}, Lifetime::Daemon);
        EXPECT_EQ(hung.noneAnswers(), Outcome::Started);
        QTest::qWait(100);
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 3000);
    qputenv("PATH", bin.filePath("none").toUtf8());
    EXPECT_EQ(adb::ServerStarter({"127.0.0.1", 5037}, Lifetime::Daemon).noneAnswers(),
              Outcome::NoAdb);
    qputenv("PATH", path);
}

} // namespace
