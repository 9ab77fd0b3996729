// The whole path: a real Form1, AdbLink, Debian's adb server and simulated devices.
#include "e2e_fixture.h"

// What current_phone.json shows in every panel, whatever its commands cost.
void EndToEnd::expectCurrentPhoneShown() {
    EXPECT_TRUE(connectedLook());
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_EQ(form->windowTitle(), "Device Info (Lab-07)");
    EXPECT_EQ(text("IPAddrLabel"), "192.168.1.23");
    EXPECT_EQ(text("MemoryLabel"), "8,156,930,048 bytes");
    EXPECT_EQ(text("AvailableLabel"), "3,310,448,640 bytes");
    EXPECT_EQ(text("StorageLabel"), "117,439,594,496 bytes");
    EXPECT_EQ(text("StorageFreeLabel"), "73,055,395,840 bytes");
    EXPECT_EQ(text("ProcessorLabel"), "Unknown");
    EXPECT_EQ(text("BatteryStatusLabel"), "High");
    EXPECT_EQ(text("BatteryLifeLabel"), "8 hours  45 min");
    EXPECT_EQ(text("BatteryFullTimeLabel"), "Unknown");
    EXPECT_EQ(bar("BatteryLifeBar"), 76.0f);
    EXPECT_EQ(text("ACLineStatusLabel"), "Disconnected");
    EXPECT_EQ(text("ScreenWidthLabel"), " 1080 pixels");
    EXPECT_EQ(text("ScreenHeightLabel"), " 2400 pixels");
    EXPECT_EQ(failures->count(), 0);
}

namespace {

TEST_F(EndToEnd, ConnectedPhoneFillsEveryPanel) {
    ASSERT_NE(harness.startSimulator("current_phone"), nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }))
        << harness.devices().toStdString();
    EXPECT_EQ(codes, (std::vector<int>{0, 5}));
    expectCurrentPhoneShown();
}

TEST_F(EndToEnd, OlderPhoneAnswersThroughItsTerminal) {
    ASSERT_NE(harness.startSimulator("older_phone"), nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    EXPECT_EQ(form->windowTitle(), "Device Info (Nexus 4)");
    EXPECT_EQ(text("AvailableLabel"), "754,106,368 bytes");  // MemFree + Buffers + Cached
    EXPECT_EQ(text("StorageLabel"), "14,267,953,152 bytes"); // from df -k
    EXPECT_EQ(text("BatteryStatusLabel"), "Low");
    EXPECT_EQ(text("ScreenHeightLabel"), " 1280 pixels");
    EXPECT_EQ(text("IPAddrLabel"), "10.0.0.42");
}

// Android 4.1: no stat -f, the old toolbox df, no wm size, no settings, no exec:, CRLF.
TEST_F(EndToEnd, OldTabletFillsEveryPanel) {
    ASSERT_NE(harness.startSimulator("old_tablet"), nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    EXPECT_EQ(form->windowTitle(), "Device Info (Nexus 7)");
    EXPECT_EQ(text("MemoryLabel"), "1,036,926,976 bytes");
    EXPECT_EQ(text("AvailableLabel"), "510,877,696 bytes");
    EXPECT_EQ(text("StorageLabel"), "14,369,525,760 bytes"); // dumpsys diskstats, exact
    EXPECT_EQ(text("StorageFreeLabel"), "9,057,611,776 bytes");
    EXPECT_EQ(text("ProcessorLabel"), "Unknown");
    EXPECT_EQ(text("BatteryStatusLabel"), "Charging");
    EXPECT_EQ(bar("BatteryLifeBar"), 64.0f);
    EXPECT_EQ(text("ACLineStatusLabel"), "Connected");
    EXPECT_EQ(text("ScreenWidthLabel"), " 800 pixels"); // dumpsys window
    EXPECT_EQ(text("ScreenHeightLabel"), " 1280 pixels");
    EXPECT_EQ(text("IPAddrLabel"), "192.168.0.17");
    EXPECT_EQ(failures->count(), 0);
}

TEST_F(EndToEnd, SecondRefreshSeesAChangedBatteryLevel) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return bar("BatteryLifeBar") == 76.0f; }));
    ASSERT_EQ(phone->control("set battery.level 12"), "ok");
    ASSERT_EQ(phone->control("set battery.charging 1"), "ok");
    refresh()->click();
    EXPECT_EQ(bar("BatteryLifeBar"), 12.0f);
    EXPECT_EQ(text("BatteryStatusLabel"), "Charging");
}

TEST_F(EndToEnd, VanishedDeviceReturnsTheWindowToNotConnected) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return connectedLook() && !text("MemoryLabel").isEmpty(); }));
    ASSERT_EQ(phone->control("vanish"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }, 8000));
    EXPECT_EQ(text("MemoryLabel"), QString());
    EXPECT_EQ(form->windowTitle(), "Device Info");
    EXPECT_FALSE(refresh()->isEnabled());
}

TEST_F(EndToEnd, KilledServerIsReportedAndARestartedOneFollowedAgain) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return connectedLook(); }));
    harness.killServer();
    ASSERT_TRUE(waitUntil([&] { return !connectedLook(); }));
    EXPECT_EQ(codes.back(), 7);
    ASSERT_TRUE(harness.startServer()) << harness.error().toStdString();
    ASSERT_TRUE(harness.connect(*phone)) << harness.error().toStdString();
    EXPECT_TRUE(waitUntil([&] { return connectedLook() && !text("MemoryLabel").isEmpty(); }));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 2);
}

TEST_F(EndToEnd, HungOrDrippingDeviceFailsTheRefreshWithinTheDeadlineAndTheWindowLives) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow(/*queryDeadlineMs=*/1500);
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    // A device that prints a byte now and then must not hold a query past its deadline.
    for (const char* mode : {"hang", "drip"}) {
        const QString message = failedRefreshWhile(*phone, mode);
        EXPECT_TRUE(message.contains("ReadRegistryValue") && message.contains(phone->serial()) &&
                    message.contains("no answer within"))
            << mode << ": " << message.toStdString();
    }
}

TEST_F(EndToEnd, SlowPhoneRefreshRunsEachCommandOnceAndEveryPressFetchesAnew) {
    SimulatorProcess* phone = harness.startSimulator("slow_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    expectCurrentPhoneShown();
    const auto counts = [&] { return QJsonDocument::fromJson(phone->control("count").toUtf8()); };
    // The health read starts in the background after the window fills, once a connection.
    const QString health = QString::fromUtf8(adb::command::BatteryHealth);
    ASSERT_TRUE(waitUntil([&] { return counts().object().value(health).toInt() == 1; }));
    const QJsonObject before = counts().object();
    EXPECT_EQ(before.value(QString::fromUtf8(adb::command::Address)).toInt(), 1);

    refresh()->click();
    const QJsonObject after = counts().object();
    for (const QString& command : after.keys()) {
        const bool refreshes = std::count(adb::command::RefreshSet.begin(),
                                          adb::command::RefreshSet.end(), command.toUtf8());
        EXPECT_EQ(after.value(command).toInt() - before.value(command).toInt(), refreshes ? 1 : 0)
            << command.toStdString();
    }
    ASSERT_EQ(phone->control("set battery.level 12"), "ok");
    refresh()->click();
    EXPECT_EQ(bar("BatteryLifeBar"), 12.0f);
    EXPECT_EQ(failures->count(), 0);
}

TEST_F(EndToEnd, WhenTheFirstOfTwoDevicesGoesTheWindowFollowsTheSecond) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    SimulatorProcess* tablet = harness.startSimulator("tablet_on_mains");
    ASSERT_NE(tablet, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("MemoryLabel").isEmpty(); }));
    SimulatorProcess* first = adbLink->followedSerial() == phone->serial() ? phone : tablet;
    SimulatorProcess* second = first == phone ? tablet : phone;
    const QString secondTitle =
        second == phone ? "Device Info (Lab-07)" : "Device Info (Kitchen tablet)";
    ASSERT_EQ(first->control("vanish"), "ok");
    EXPECT_TRUE(waitUntil([&] { return form->windowTitle() == secondTitle; }));
    EXPECT_EQ(adbLink->followedSerial(), second->serial());
    EXPECT_TRUE(connectedLook());
    EXPECT_TRUE(refresh()->isEnabled());
}

TEST_F(EndToEnd, PhoneThatNeverAuthorizesIsExplainedAndNeverConnects) {
    ASSERT_NE(harness.startSimulator("unauthorized_phone"), nullptr)
        << harness.error().toStdString();
    openWindow();
    EXPECT_TRUE(waitUntil([&] { return adbLink->statusText().contains("\"unauthorized\""); }))
        << adbLink->statusText().toStdString();
    EXPECT_TRUE(adbLink->statusText().contains("allow USB debugging"));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 0);
    EXPECT_FALSE(connectedLook());
    for (const char* name : {"Frame2", "ConnectedPicture", "DisconnectedPicture"}) {
        const QWidget* widget = form->findChild<QWidget*>(name);
        EXPECT_TRUE(widget->toolTip().contains("unauthorized")) << name;
        EXPECT_EQ(widget->accessibleDescription(), adbLink->statusText()) << name;
    }
}

TEST_F(EndToEnd, AndroidSerialChoosesTheDeviceAndItsGoingIsNotFollowedByAnother) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    SimulatorProcess* tablet = harness.startSimulator("tablet_on_mains");
    ASSERT_NE(tablet, nullptr) << harness.error().toStdString();
    // The link reads both variables, as every adb client does.
    qputenv("ADB_SERVER_SOCKET", harness.socketSpec().toUtf8());
    qputenv("ANDROID_SERIAL", tablet->serial().toUtf8());
    auto link = std::make_unique<AdbLink>();
    qunsetenv("ADB_SERVER_SOCKET");
    qunsetenv("ANDROID_SERIAL");
    openWindowOn(std::move(link));
    ASSERT_TRUE(waitUntil([&] { return form->windowTitle() == "Device Info (Kitchen tablet)"; }));
    ASSERT_EQ(tablet->control("vanish"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }, 8000));
    QTest::qWait(500); // the phone stays attached and ready all along
    EXPECT_FALSE(connectedLook());
    EXPECT_EQ(form->windowTitle(), "Device Info");
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 1);
    // The server keeps a network device that went listed as offline.
    EXPECT_TRUE(adbLink->statusText().contains("(" + tablet->serial() + ") is \"offline\""))
        << adbLink->statusText().toStdString();
}

} // namespace
