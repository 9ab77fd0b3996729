#include "qt_printers.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_parsers.h"
#include "tools/device_sim/adb_message.h"
#include "tools/device_sim/device_profile.h"
#include "tools/device_sim/simulator.h"

#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace sim;

DeviceProfile profile(const char* name) {
    QFile file(QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tools/device_sim/profiles/") +
               QLatin1String(name) + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing profile %s", name);
    QString error;
    const auto parsed = profileFromJson(file.readAll(), &error);
    if (!parsed)
        qFatal("bad profile %s: %s", name, qPrintable(error));
    return *parsed;
}

TEST(AdbMessage, RoundTripsAndWaitsForEveryByte) {
    const QByteArray wire = encodeMessage({A_WRTE, 7, 9, "hello"});
    ASSERT_EQ(wire.size(), 24 + 5);
    for (qsizetype cut = 0; cut < wire.size(); ++cut)
        EXPECT_EQ(decodeMessage(wire.left(cut)).status, Decode::NeedMore) << cut;
    const Decoded decoded = decodeMessage(wire + "next");
    ASSERT_EQ(decoded.status, Decode::Complete);
    EXPECT_EQ(decoded.consumed, wire.size());
    EXPECT_EQ(decoded.message.command, A_WRTE);
    EXPECT_EQ(decoded.message.arg0, 7u);
    EXPECT_EQ(decoded.message.arg1, 9u);
    EXPECT_EQ(decoded.message.data, "hello");
    EXPECT_EQ(wire.mid(16, 4), QByteArray::fromHex("14020000")); // byte sum of "hello"
}

TEST(AdbMessage, RefusesBadMagicAndOversizedData) {
    QByteArray wire = encodeMessage({A_OKAY, 1, 2, {}});
    wire[20] = char(wire[20] ^ 1);
    EXPECT_EQ(decodeMessage(wire).status, Decode::Malformed);
    const QByteArray big = encodeMessage({A_WRTE, 1, 2, QByteArray(2048, 'x')});
    EXPECT_EQ(decodeMessage(big, 1024).status, Decode::Malformed);
    EXPECT_EQ(decodeMessage(big.left(24), 1024).status, Decode::Malformed) << "before the data";
}

TEST(SimShell, AnswersLikeADeviceShell) {
    const DeviceProfile phone = profile("current_phone");
    EXPECT_EQ(runShell(phone, "frobnicate --now"), "/system/bin/sh: frobnicate: not found\n");
    EXPECT_EQ(runShell(phone, "frobnicate 2>/dev/null; echo ::"), "::\n");
    EXPECT_EQ(runShell(phone, "getprop ro.product.cpu.abi"), "arm64-v8a\n");
    EXPECT_EQ(runShell(phone, "true"), "");
    const DeviceProfile old = profile("older_phone");
    EXPECT_EQ(runShell(old, "getprop ro.product.model"), "Nexus 4\r\n");
}

// What each profile's shell prints reads back, through the link's parsers, as the profile says.
TEST(SimShell, ProfilesReadBackThroughTheLinksParsers) {
    struct Case {
        const char* profile;
        double memTotal, memAvailable, storageTotal;
        double batteryFlag, mains;
        QSize screen;
        const char* name;
        const char* address;
    };
    const Case cases[] = {
        {"current_phone", 7965752.0 * 1024, 3232860.0 * 1024, 28671776.0 * 4096, 1, 0,
         QSize(1080, 2400), "Lab-07", "192.168.1.23"},
        {"older_phone", 1945092.0 * 1024, (101236.0 + 22356 + 612840) * 1024, 13933548.0 * 1024, 2,
         0, QSize(768, 1280), "Nexus 4", "10.0.0.42"},
        {"tablet_on_mains", 3796364.0 * 1024, 1822080.0 * 1024, 13828096.0 * 4096, 128, 1,
         QSize(1080, 1800), "Kitchen tablet", "192.168.1.51"},
        {"no_network", 2030812.0 * 1024, 1320544.0 * 1024, 1558521.0 * 4096, 1, 1,
         QSize(1080, 2400), "sdk_gphone64_x86_64", ""},
        {"old_tablet", 1012624.0 * 1024, (164932.0 + 18768 + 315204) * 1024, 3508185.0 * 4096, 8, 1,
         QSize(800, 1280), "Nexus 7", "192.168.0.17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        const DeviceProfile p = profile(c.profile);
        auto run = [&p](const QByteArray& command) {
            return QString::fromUtf8(runShell(p, command));
        };
        const auto memory = adb::parseMeminfo(run(adb::command::Memory));
        ASSERT_TRUE(memory);
        EXPECT_EQ(memory->total, c.memTotal);
        EXPECT_EQ(memory->remaining, c.memAvailable);
        const auto storage = adb::parseStorage(run(adb::command::Storage));
        ASSERT_TRUE(storage);
        const adb::ByteCounts* counts = &storage->counts;
        EXPECT_EQ(counts->total, c.storageTotal);
        const QStringList power = adb::splitSections(run(adb::command::Power), 3);
        const auto battery = adb::parseBattery(power[0], power[1], power[2]);
        ASSERT_TRUE(battery);
        EXPECT_EQ(battery->flag, c.batteryFlag);
        EXPECT_EQ(adb::parseMainsStatus(power[0]), c.mains);
        EXPECT_EQ(adb::parseScreen(run(adb::command::Screen)), c.screen);
        const QStringList name = adb::splitSections(run(adb::command::Name), 2);
        EXPECT_EQ(adb::parseDeviceName(name[0], name[1]), c.name);
        const QStringList address = adb::splitSections(run(adb::command::Address), 2);
        EXPECT_EQ(adb::parseIpv4Address(address[0], address[1]), c.address);
    }
}

// A fallback runs only where what it stands in for failed: a current phone runs stat -f and wm
// size alone.
TEST(SimShell, FallbacksRunOnlyWhereTheFirstCommandFails) {
    const DeviceProfile phone = profile("current_phone");
    const DeviceProfile old = profile("old_tablet");
    for (const QByteArray& command : {adb::command::Storage, adb::command::Screen}) {
        EXPECT_FALSE(runShell(phone, command).contains("::")) << command.constData();
        EXPECT_TRUE(runShell(old, command).contains("::\r\n")) << command.constData();
    }
    EXPECT_TRUE(
        runShell(old, adb::command::Storage).contains("Data-Free: 8845324K / 14032740K total"));
    EXPECT_TRUE(runShell(old, adb::command::Screen).contains("init=800x1280"));
}

TEST(SimShell, SettingsChangeWhatTheDeviceReports) {
    DeviceProfile p = profile("current_phone");
    EXPECT_TRUE(applySetting(p, "battery.level", "9"));
    EXPECT_TRUE(applySetting(p, "battery.charging", "1"));
    EXPECT_TRUE(applySetting(p, "address", "none"));
    EXPECT_FALSE(applySetting(p, "battery.level", "lots"));
    EXPECT_FALSE(applySetting(p, "colour", "red"));
    const auto battery =
        adb::parseBattery(QString::fromUtf8(runShell(p, "dumpsys battery")), u"", u"");
    ASSERT_TRUE(battery);
    EXPECT_EQ(battery->flag, 8);
    EXPECT_EQ(battery->percent, 9);
    EXPECT_EQ(adb::parseMainsStatus(QString::fromUtf8(runShell(p, "dumpsys battery"))), 1);
}

// A host on a socket: sends messages and collects what the simulator answers.
class Host {
public:
    explicit Host(quint16 port) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(2000);
    }
    void send(const Message& m) { socket.write(encodeMessage(m)); }
    std::optional<Message> next(int ms = 2000) {
        QDeadlineTimer deadline(ms);
        for (;;) {
            const Decoded d = decodeMessage(buffer, 1 << 20);
            if (d.status == Decode::Complete) {
                buffer.remove(0, d.consumed);
                return d.message;
            }
            if (d.status == Decode::Malformed || deadline.hasExpired())
                return std::nullopt;
            QTest::qWait(5); // the simulator runs on this thread's event loop
            buffer += socket.readAll();
        }
    }
    QTcpSocket socket;
    QByteArray buffer;
};

TEST(Simulator, ConnectsAndStreamsOutputInAgreedChunksEachAcknowledged) {
    DeviceProfile p = profile("current_phone");
    p.meminfo = QByteArray(10000, 'm');
    Simulator simulator(p);
    ASSERT_TRUE(simulator.listen());
    Host host(simulator.port());
    host.send({A_CNXN, kVersion, 4096, "host::features=shell_v2"});
    const auto banner = host.next();
    ASSERT_TRUE(banner);
    EXPECT_EQ(banner->command, A_CNXN);
    EXPECT_TRUE(banner->data.startsWith("device::ro.product.name=lynx;ro.product.model=Pixel 7a;"));

    host.send({A_OPEN, 42, 0, QByteArray("exec:cat /proc/meminfo", 23)});
    const auto okay = host.next();
    ASSERT_TRUE(okay);
    EXPECT_EQ(okay->command, A_OKAY);
    EXPECT_EQ(okay->arg1, 42u);
    QByteArray received;
    for (;;) {
        const auto m = host.next();
        ASSERT_TRUE(m);
        if (m->command == A_CLSE)
            break;
        ASSERT_EQ(m->command, A_WRTE);
        EXPECT_LE(m->data.size(), 4096);
        received += m->data;
        if (received.size() == p.meminfo.size())
            continue; // the last write is followed by the close at once
        EXPECT_FALSE(host.next(50)) << "no second write before the host's OKAY";
        host.send({A_OKAY, 42, m->arg0, {}});
    }
    EXPECT_EQ(received, p.meminfo);
}

TEST(Simulator, TerminalDeviceRefusesExecAndHungDeviceSaysNothing) {
    Simulator simulator(profile("older_phone"));
    ASSERT_TRUE(simulator.listen());
    Host host(simulator.port());
    host.send({A_CNXN, kVersion, 4096, "host::"});
    ASSERT_TRUE(host.next());
    host.send({A_OPEN, 5, 0, "exec:true"});
    const auto refused = host.next();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->command, A_CLSE);
    EXPECT_EQ(refused->arg1, 5u);

    EXPECT_EQ(simulator.control("hang"), "ok");
    host.send({A_OPEN, 6, 0, "shell:true"});
    EXPECT_FALSE(host.next(200));
    EXPECT_EQ(simulator.control("bogus"), "error: unknown command");
    EXPECT_EQ(simulator.control("set colour red"), "error: cannot set colour");
}

} // namespace
