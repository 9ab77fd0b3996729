// Devices that send what no device should: the window shows strings literally, keeps its size,
// answers within its deadlines and says in plain words what went wrong.
#include "e2e_fixture.h"

#include "app/command_line.h"
#include "device_link/combined_link.h"

namespace {

class Hostile : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        phone = harness.startSimulator("current_phone");
        ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    }

    void expectFixedWindow() {
        EXPECT_EQ(form->size(), QSize(411, 365));
        EXPECT_EQ(form->findChild<QLabel*>("IPAddrLabel")->geometry(), QRect(40, 64, 113, 17));
    }

    SimulatorProcess* phone = nullptr;
};

TEST_F(Hostile, HundredThousandCharacterNameIsShownWholeInAWindowThatKeepsItsSize) {
    const QString name(100000, QChar(u'W'));
    ASSERT_EQ(phone->control("set name " + name), "ok");
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    EXPECT_EQ(form->windowTitle(), "Device Info (" + name + ")");
    expectFixedWindow();
}

TEST_F(Hostile, ControlCharactersOverridesAndMarkupStayLiteral) {
    const QString name = QString::fromUtf8("\x01\x1b[31m<b>Lab</b>&amp; \u202e\u2067evil\t[*]");
    ASSERT_EQ(phone->control("set name " + name), "ok");
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    // Qt would take "[*]" as the modified marker; the window doubles it to show it as given.
    // Control characters show as escapes.
    EXPECT_EQ(
        form->windowTitle().replace("[*][*]", "[*]"),
        QString::fromUtf8("Device Info (\\x01\\e[31m<b>Lab</b>&amp; \u202e\u2067evil\\t[*])"));
    expectFixedWindow();
}

TEST_F(Hostile, AddressWithMarkupIsNotTakenForAnAddress) {
    ASSERT_EQ(phone->control("set address <b>1.2.3.4</b>"), "ok");
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return connectedLook() && !text("MemoryLabel").isEmpty(); }));
    QTest::qWait(200);
    EXPECT_EQ(codes, (std::vector<int>{0}));
    EXPECT_EQ(text("IPAddrLabel"), QString());
}

// The link as the app makes it, with its own limits: no test's settings stand in for the cap.
TEST_F(Hostile, EndlessOutputIsCutAtTheAppsOwnCapAndReported) {
    qputenv("ADB_SERVER_SOCKET", harness.socketSpec().toUtf8());
    openWindowWith(app::makeDeviceLink(QString()));
    qunsetenv("ADB_SERVER_SOCKET");
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    const QString message = failedRefreshWhile(*phone, "flood");
    EXPECT_TRUE(message.contains("more than 1024 KiB")) << message.toStdString();
    expectFixedWindow();
}

// Likewise its own deadline: a hung phone ends the refresh after about 3 s, and says so.
TEST_F(Hostile, HungPhoneFailsAtTheAppsOwnDeadline) {
    qputenv("ADB_SERVER_SOCKET", harness.socketSpec().toUtf8());
    openWindowWith(app::makeDeviceLink(QString()));
    qunsetenv("ADB_SERVER_SOCKET");
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    QElapsedTimer clock;
    clock.start();
    const QString message = failedRefreshWhile(*phone, "hang");
    EXPECT_GE(clock.elapsed(), 2900) << "a refresh and the one after resuming";
    EXPECT_TRUE(message.contains("no answer within 3 s")) << message.toStdString();
}

TEST_F(Hostile, MalformedTransportMessagesCostARefreshAtMost) {
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return connectedLook() && !text("MemoryLabel").isEmpty(); }));
    ASSERT_EQ(phone->control("malformed"), "ok");
    // The server drops a transport that breaks its framing and reconnects a network device by
    // itself; the window goes on, and a refresh works again.
    EXPECT_TRUE(waitUntil(
        [&] {
            if (!connectedLook())
                return false;
            const qsizetype before = failures->count();
            refresh()->click();
            return failures->count() == before;
        },
        15000));
    expectFixedWindow();
}

} // namespace
