// Android devices over Wi-Fi through the real adb server: a phone attached as by USB (the
// server's emulator transport) switched to Wi-Fi with no blank, one device everywhere while it
// has both transports, unplugged, its Wi-Fi end lost and back, and the program started again.
#include "desktop/wifi.h"
#include "device_link/adb/wifi_keeper.h"
#include "e2e_fixture.h"
#include "history/history_store.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString kNumber = QStringLiteral("R58M123ABC");

class Wifi : public EndToEnd {
protected:
    QProcessEnvironment environment(const QString& home) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), QStringLiteral("UNIX:/nonexistent"));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/none"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }
    QByteArray run(const QString& home, const QStringList& arguments) const {
        QProcess program;
        program.setProcessEnvironment(environment(home));
        program.start(QStringLiteral(DEVICE_INFO_EXE), arguments);
        program.waitForFinished(20000);
        return program.readAllStandardOutput();
    }
};

TEST_F(Wifi, APhoneMovesToWifiWithNoBlankStaysConnectedAndIsOneDeviceEverywhere) {
    SimulatorProcess* phone = harness.startUsbSimulator(
        QStringLiteral("current_phone"),
        {QStringLiteral("set prop.ro.serialno ") + kNumber, QStringLiteral("set address none")});
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    QTemporaryDir home;
    const QString historyFile = home.filePath(QStringLiteral("history.sqlite3"));
    CombinedLink& link = openKeeping(historyFile);
    ASSERT_TRUE(waitUntil([&] { return connectedLook() && adbLink->canSwitchToWifi(); }))
        << statusLink->statusText().toStdString();
    // Made now, so that it has run a while when its address drops, as in a window left open.
    WifiKeeper keeper(harness.server());
    // It joins the network once plugged in; its Wi-Fi end listens on loopback.
    ASSERT_EQ(phone->control(QStringLiteral("set address 127.0.0.1")), "ok");

    // Switched: the same device, shown throughout, and the light says the cable may go.
    const quint16 port = freePort();
    const QString wifi = QStringLiteral("127.0.0.1:%1").arg(port);
    std::optional<adb::ConnectOutcome> switched;
    adbLink->switchToWifi(QStringLiteral("127.0.0.1"), port,
                          [&](const adb::ConnectOutcome& outcome, const QString& address) {
                              switched = outcome;
                              EXPECT_EQ(address, wifi);
                          });
    ASSERT_TRUE(waitUntil([&] { return switched.has_value(); }, 20000));
    EXPECT_EQ(switched->sentence, "Connected to " + wifi + '.');
    EXPECT_TRUE(waitUntil([&] {
        return link.statusText().contains("It is also connected over Wi-Fi at " + wifi +
                                          ": the cable may be unplugged.");
    })) << link.statusText().toStdString();
    const std::vector<int> shown = codes;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 0), 1) << "no blank while it moved";

    // One device everywhere while it has both transports.
    ASSERT_EQ(link.attachedDevices().size(), 1u);
    EXPECT_EQ(link.attachedDevices().front().serial, kNumber);
    EXPECT_EQ(link.followedSerial(), kNumber);
    EXPECT_EQ(run(home.path(), {"--list"}), kNumber + "\tandroid\tready\tLab-07\tPixel 7a\n");
    const QJsonArray all =
        QJsonDocument::fromJson(run(home.path(), {"--report", "--json", "--all"})).array();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0]["serial"], kNumber);
    EXPECT_EQ(all[0]["transport"], "usb");
    EXPECT_EQ(all[0]["wifiAddress"], wifi);
    {
        QProcessEnvironment env = environment(home.path());
        ExporterProcess exporter(QStringLiteral(DEVICE_INFO_EXE), env, {"--interval", "1"});
        QByteArray metrics;
        EXPECT_TRUE(waitUntil([&] {
            return (metrics = exporter.metrics())
                .contains("{serial=\"" + kNumber.toUtf8() + "\",kind=\"android\",state=\"ready\"");
        }));
        EXPECT_EQ(metrics.count("device_info_device_info{"), 1) << metrics.toStdString();
        EXPECT_TRUE(metrics.contains(",transport=\"usb\"} 1")) << metrics.toStdString();
    }
    EXPECT_TRUE(waitUntil([&] {
        return !history::Store(historyFile, history::Store::Mode::Read).records({}).empty();
    }));
    for (const history::Record& r :
         history::Store(historyFile, history::Store::Mode::Read).records({}))
        EXPECT_EQ(r.serial, kNumber);

    // Unplugged: it stays, over Wi-Fi, and reads there.
    phone->control(QStringLiteral("unplug"));
    EXPECT_TRUE(waitUntil([&] {
        return link.statusText().startsWith("Connected to Pixel 7a (" + kNumber +
                                            ") over Wi-Fi at " + wifi + ',');
    })) << link.statusText().toStdString();
    EXPECT_EQ(codes, shown) << "still no blank";
    refresh()->click();
    EXPECT_EQ(failures->count(), 0);
    EXPECT_FALSE(text("MemoryLabel").isEmpty());

    // Its Wi-Fi end drops, and the server lets it go: back, it is connected again within the
    // keeper's backoff.
    const auto forgotten = [&] {
        if (harness.devices().contains(wifi))
            adb::hostQuery(harness.server(), "host:disconnect:" + wifi.toUtf8(), {3000, 4096});
        return !harness.devices().contains(wifi);
    };
    keeper.keep(wifi);
    phone->control(QStringLiteral("wifi off"));
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }));
    EXPECT_TRUE(waitUntil([&] { return !keeper.connected(wifi); }, 15000));
    ASSERT_TRUE(forgotten());
    QElapsedTimer back;
    back.start();
    phone->control(QStringLiteral("wifi on"));
    EXPECT_TRUE(waitUntil([&] { return connectedLook(); }, 70000));
    EXPECT_LT(back.elapsed(), 3500) << "the backoff's first try, a second after the drop";
    keeper.forget(wifi);

    // Connect over Wi-Fi...: an address typed and Enter; a refusal said, a connection kept.
    const QString conf = home.filePath("device-info/device-info.conf");
    desktop::WifiDialog dialog(keeper, conf);
    dialog.show();
    EXPECT_LT(dialog.width(), 640) << "its sentences wrap";
    auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("WifiAddress"));
    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(freePort());
    for (const QString& address : {refusing, wifi}) {
        typed->setText(address);
        QTest::keyClick(typed, Qt::Key_Return);
        EXPECT_TRUE(waitUntil([&] { return dialog.result().contains(address + ' '); }));
    }
    EXPECT_EQ(dialog.result(), wifi + " is connected already.");
    EXPECT_EQ(desktop::readWifiAddresses(conf), QStringList{wifi});
    keeper.forget(wifi);

    // Started again, the program connects the address it keeps.
    ASSERT_TRUE(forgotten());
    QTest::qWait(1500);
    ASSERT_FALSE(harness.devices().contains(wifi)) << "nothing else connects it";
    QProcess program;
    program.setProcessEnvironment(environment(home.path()));
    program.start(QStringLiteral(DEVICE_INFO_EXE), QStringList{});
    EXPECT_TRUE(waitUntil([&] { return harness.devices().contains(wifi + "\tdevice"); }, 20000))
        << harness.devices().toStdString();
    program.terminate();
    program.waitForFinished(10000);

    // Forgotten, it is kept no more.
    auto* kept = dialog.findChild<QListWidget*>(QStringLiteral("WifiKept"));
    ASSERT_EQ(kept->count(), 1);
    kept->item(0)->setSelected(true);
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == "Forget")
            button->click();
    EXPECT_EQ(kept->count(), 0);
    EXPECT_EQ(desktop::readWifiAddresses(conf), QStringList());
}

// What host:connect answers, and the sentence each gets.
TEST(WifiAnswers, EachConnectAnswerGetsItsSentence) {
    const QString at = QStringLiteral("192.168.1.23:5555");
    const std::pair<const char*, const char*> cases[] = {
        {"connected to 192.168.1.23:5555", "Connected to 192.168.1.23:5555."},
        {"already connected to 192.168.1.23:5555", "192.168.1.23:5555 is connected already."},
        {"failed to connect to '192.168.1.23:5555': Connection refused",
         "192.168.1.23:5555 refused: the device does not listen there. Plug it in once and "
         "Switch to Wi-Fi, or check the port."},
        {"failed to connect to '192.168.1.23:5555': Connection timed out",
         "192.168.1.23:5555 does not answer: is the device awake, and on this network?"},
        {"failed to connect to '192.168.1.23:5555': No route to host",
         "192.168.1.23:5555 does not answer: is the device awake, and on this network?"},
        {"failed to authenticate to 192.168.1.23:5555",
         "The device at 192.168.1.23:5555 asks for USB debugging to be allowed: unlock it and "
         "allow it in its prompt."},
        {"cannot resolve host 'phone.lab' and port 5555: Name or service not known\r\n",
         "Connecting to 192.168.1.23:5555 failed: cannot resolve host 'phone.lab' and port 5555: "
         "Name or service not known."},
    };
    for (const auto& [reply, sentence] : cases)
        EXPECT_EQ(adb::connectOutcome(at, reply).sentence, QString::fromUtf8(sentence)) << reply;
    const std::pair<const char*, const char*> addresses[] = {{"192.168.1.23", "192.168.1.23:5555"},
                                                             {" phone.lab:5556 ", "phone.lab:5556"},
                                                             {"10.0.0.1:65535", "10.0.0.1:65535"},
                                                             {"10.0.0.1:0", ""},
                                                             {"10.0.0.1:65536", ""},
                                                             {"-x:5555", ""},
                                                             {"a b", ""},
                                                             {"", ""}};
    for (const auto& [text, address] : addresses) {
        QString why;
        EXPECT_EQ(adb::wifiAddress(QString::fromUtf8(text), &why), QString::fromUtf8(address))
            << text;
    }
}

} // namespace
