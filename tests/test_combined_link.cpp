// The link over both kinds of device, the Apple link's words, and the command line that chooses
// a device.
#include "app/command_line.h"
#include "desktop/desktop_integration.h"
#include "desktop/device_menu.h"
#include "device_link/combined_link.h"
#include "device_link/ios/ios_status.h"
#include "qt_printers.h"
#include "scripted_link.h"

#include <QAction>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Event = std::pair<int, QString>;

class CombinedLinkTest : public ::testing::Test {
protected:
    CombinedLinkTest() {
        auto a = std::make_unique<ScriptedLink>();
        auto b = std::make_unique<ScriptedLink>();
        android = a.get();
        apple = b.get();
        android->say("adb idle.");
        apple->say("usbmuxd idle.");
        android->set("ProcessorType", 43620.0);
        apple->set("ProcessorType", 452.0);
        std::vector<CombinedLink::Kind> kinds;
        kinds.push_back({QStringLiteral("Android:"), std::move(a)});
        kinds.push_back({QStringLiteral("iPhone and iPad:"), std::move(b)});
        link = std::make_unique<CombinedLink>(std::move(kinds));
        QObject::connect(
            link.get(), &Pelorin::ConnectionEvent,
            [this](qint32 code, const QString& text) { events.emplace_back(code, text); });
    }

    ScriptedLink* android = nullptr;
    ScriptedLink* apple = nullptr;
    std::unique_ptr<CombinedLink> link;
    std::vector<Event> events;
};

TEST_F(CombinedLinkTest, FollowsTheFirstReadyDeviceAndIgnoresTheOtherKindMeanwhile) {
    EXPECT_EQ(link->statusText(), "Android: adb idle. iPhone and iPad: usbmuxd idle.");
    apple->raise(Pelorin::EventConnected);
    android->raise(Pelorin::EventConnected);
    android->raise(Pelorin::EventAddress, "10.0.0.2");
    apple->say("Connected to Ana's iPhone.");
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}}));
    EXPECT_EQ(link->ProcessorType().toInt32(), 452);
    EXPECT_EQ(link->statusText(), "Connected to Ana's iPhone.");
    EXPECT_EQ(link->followed(), apple);
}

// A headset is shown while no phone is: a phone that comes takes its place, and gives it back
// when it goes; a headset that was chosen stays.
TEST(CombinedLinkPeripherals, APeripheralGivesWayToAPhoneUnlessItWasChosen) {
    auto a = std::make_unique<ScriptedLink>();
    auto h = std::make_unique<ScriptedLink>();
    ScriptedLink* phone = a.get();
    ScriptedLink* headset = h.get();
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({QStringLiteral("Android:"), std::move(a)});
    kinds.push_back({QStringLiteral("Peripherals:"), std::move(h), true});
    CombinedLink link(std::move(kinds));
    std::vector<int> codes;
    QObject::connect(&link, &Pelorin::ConnectionEvent,
                     [&codes](qint32 code, const QString&) { codes.push_back(code); });
    headset->raise(Pelorin::EventConnected);
    phone->raise(Pelorin::EventConnected);
    EXPECT_EQ(link.followed(), phone);
    phone->raise(Pelorin::EventRemoved);
    EXPECT_EQ(link.followed(), headset);
    EXPECT_EQ(codes, (std::vector<int>{0, 2, 0, 2, 0}));
    link.setWantedSerial(QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("--serial"));
    phone->raise(Pelorin::EventConnected);
    EXPECT_EQ(link.followed(), headset);
    EXPECT_EQ(codes.size(), 5u);
}

TEST_F(CombinedLinkTest, WhenTheFollowedGoesTheOtherKindsReadyDeviceIsShown) {
    android->raise(Pelorin::EventConnected);
    android->raise(Pelorin::EventAddress, "10.0.0.2");
    apple->raise(Pelorin::EventConnected);
    QSignalSpy status(link.get(), &KindLink::statusChanged);
    android->raise(Pelorin::EventRemoved);
    EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {5, "10.0.0.2"}, {2, ""}, {0, ""}}));
    EXPECT_EQ(link->ProcessorType().toInt32(), 452);
    // Then the iPhone goes, and nothing is left.
    apple->raise(Pelorin::EventRemoved);
    EXPECT_EQ(events.back(), (Event{2, ""}));
    EXPECT_EQ(link->followed(), nullptr);
    EXPECT_FALSE(link->hasDevice());
    EXPECT_EQ(link->statusText(), "Android: adb idle. iPhone and iPad: usbmuxd idle.");
    EXPECT_GE(status.count(), 1);
}

// Offline is gone as far as the window is concerned: a device that cannot answer is not shown,
// and a ready device of the other kind takes its place at once.
TEST_F(CombinedLinkTest, EveryGoneCodeMovesTheWindowToTheOtherKindsReadyDevice) {
    for (const qint32 gone :
         {Pelorin::EventRemoved, Pelorin::EventOffline, Pelorin::EventServerLost}) {
        events.clear();
        android->raise(Pelorin::EventConnected);
        apple->raise(Pelorin::EventConnected);
        ASSERT_EQ(link->followed(), android) << gone;
        android->raise(gone);
        EXPECT_EQ(events, (std::vector<Event>{{0, ""}, {gone, ""}, {0, ""}})) << gone;
        EXPECT_EQ(link->followed(), apple) << gone;
        EXPECT_TRUE(link->hasDevice()) << gone;
        apple->raise(Pelorin::EventRemoved);
        EXPECT_EQ(link->followed(), nullptr);
    }
}

TEST_F(CombinedLinkTest, StatusEndsWithHowManyOthersThereAreAndHowToChoose) {
    android->see({{"R58M", DeviceKind::Android, "Android", "Galaxy S10", ""},
                  {"emulator-5554", DeviceKind::Android, "Android", "", "offline"}},
                 "R58M");
    apple->see({{"00008110-001A", DeviceKind::Apple, "iPhone", "", "waiting for Trust"}});
    android->raise(Pelorin::EventConnected);
    android->say("Connected to Galaxy S10.");
    EXPECT_EQ(link->statusText(), "Connected to Galaxy S10. 2 more devices are attached "
                                  "(Android, iPhone): right-click to choose.");
    apple->see({});
    EXPECT_EQ(link->statusText(),
              "Connected to Galaxy S10. 1 more device is attached (Android): right-click to "
              "choose.");
    android->see({{"R58M", DeviceKind::Android, "Android", "Galaxy S10", ""}}, "R58M");
    EXPECT_EQ(link->statusText(), "Connected to Galaxy S10.");
}

TEST_F(CombinedLinkTest, DeviceMenuListsEveryDeviceAndChoosingOneTellsEveryKind) {
    android->see({{"R58M", DeviceKind::Android, "Android", "Galaxy S10", ""},
                  {"emulator-5554", DeviceKind::Android, "Android", "", "offline"}},
                 "R58M");
    apple->see({{"00008110-001A", DeviceKind::Apple, "iPhone", "Ana's & Ben's", ""}});
    android->raise(Pelorin::EventConnected);
    QWidget window;
    desktop::installCopy(window, [] { return QString(); });
    QMenu* menu = desktop::installDeviceMenu(window, *link);
    // The submenu opens the context menu, before Copy all.
    ASSERT_EQ(window.actions().size(), 2);
    EXPECT_EQ(window.actions().value(0), menu->menuAction());
    EXPECT_EQ(window.actions().value(1)->text(), "Copy all");
    const auto entries = [menu] {
        emit menu->aboutToShow(); // as opening it does
        QStringList out;
        for (const QAction* a : menu->actions())
            out << (a->isSeparator()
                        ? QStringLiteral("--")
                        : QStringLiteral("%1%2%3").arg(a->isChecked() ? "[x] " : "[ ] ", a->text(),
                                                       a->isEnabled() ? "" : " (disabled)"));
        return out;
    };
    EXPECT_EQ(entries(),
              (QStringList{"[x] First ready device", "--", "[x] Galaxy S10 (Android, R58M)",
                           "[ ] Android emulator-5554 (offline) (disabled)",
                           "[ ] Ana's && Ben's (iPhone, 00008110-001A)"}));
    // The iPhone: the Android link stands aside, the Apple one follows it.
    menu->actions().value(4)->trigger();
    EXPECT_EQ(android->wanted, "00008110-001A");
    EXPECT_EQ(apple->wanted, "00008110-001A");
    EXPECT_TRUE(android->aside);
    EXPECT_FALSE(apple->aside);
    EXPECT_EQ(entries().value(0), "[ ] First ready device");
    EXPECT_EQ(entries().value(4), "[x] Ana's && Ben's (iPhone, 00008110-001A)");
    menu->actions().value(0)->trigger();
    EXPECT_EQ(android->wanted, "");
    EXPECT_EQ(apple->wanted, "");
    EXPECT_FALSE(android->aside);
    EXPECT_EQ(entries().value(0), "[x] First ready device");
    // An Android device: now the Apple link stands aside.
    menu->actions().value(2)->trigger();
    EXPECT_TRUE(apple->aside);
    EXPECT_FALSE(android->aside);
    EXPECT_EQ(apple->wanted, "R58M");
}

TEST(DeviceMenu, EntriesNameTheDeviceItsKindSerialAndWhyItCannotBeShown) {
    const std::pair<AttachedDevice, const char*> cases[] = {
        {{"35161FDJH000GW", DeviceKind::Android, "Android", "Pixel 7a", ""},
         "Pixel 7a (Android, 35161FDJH000GW)"},
        {{"00008110-001A2B3C4D5E801E", DeviceKind::Apple, "iPhone", "", "waiting for Trust"},
         "iPhone 00008110-001A2B3C4D5E801E (waiting for Trust)"},
        {{"R58M", DeviceKind::Android, "Android", "", "unauthorized"},
         "Android R58M (unauthorized)"},
        {{"x\x1b[2J", DeviceKind::Android, "Android", "Lab\t07", ""}, "Lab 07 (Android, x [2J)"},
    };
    for (const auto& [device, says] : cases)
        EXPECT_EQ(desktop::deviceEntryText(device), QString::fromUtf8(says));
}

// A serial no kind lists yet (--serial at start, a device unplugged): every kind waits for it.
TEST_F(CombinedLinkTest, ChoosingASerialNoKindListsTellsEveryKindToWaitForIt) {
    link->setWantedSerial("R58M12ABCDE", "--serial");
    EXPECT_EQ(android->wanted, "R58M12ABCDE");
    EXPECT_EQ(apple->wanted, "R58M12ABCDE");
    EXPECT_FALSE(android->aside);
    EXPECT_FALSE(apple->aside);
    link->standAside("R58M12ABCDE", "--serial");
    EXPECT_TRUE(android->aside);
    EXPECT_TRUE(apple->aside);
}

ios::LinkState attached(ios::ReadError error, const char* detail = "") {
    ios::LinkState s;
    s.devices.push_back(
        {QStringLiteral("00008110-001A2B3C4D5E801E"), error, QString::fromUtf8(detail)});
    return s;
}

TEST(IosStatusText, SaysWhereThingsStandAndWhatToDo) {
    using ios::ReadError;
    ios::LinkState none;
    ios::LinkState missing;
    missing.usbmuxdInstalled = false;
    ios::LinkState reading = attached(ReadError::None);
    reading.followed = QStringLiteral("00008110-001A2B3C4D5E801E");
    reading.reading = true;
    ios::LinkState connected = reading;
    connected.reading = false;
    connected.followedName = QStringLiteral("Ana's\niPhone");
    ios::LinkState waiting = attached(ReadError::None);
    waiting.wanted = QStringLiteral("R58M12ABCDE");
    waiting.wantedFrom = QStringLiteral("ANDROID_SERIAL");
    ios::LinkState aside = connected;
    aside.followed.clear();
    aside.wanted = QStringLiteral("127.0.0.1:32835");
    aside.wantedFrom = QStringLiteral("the Device menu");
    aside.aside = true;
    const std::pair<ios::LinkState, const char*> cases[] = {
        {none, "No iPhone or iPad is attached through usbmuxd."},
        {missing, "sudo apt install usbmuxd"},
        {reading, "Reading 00008110-001A2B3C4D5E801E by USB, through usbmuxd."},
        {connected,
         "Connected to Ana's iPhone (00008110-001A2B3C4D5E801E) by USB, through usbmuxd."},
        {waiting, "Waiting for R58M12ABCDE (ANDROID_SERIAL) through usbmuxd"},
        {aside, "127.0.0.1:32835 was chosen (the Device menu): iPhones and iPads are ignored."},
        {attached(ReadError::TrustPending), "unlock it and tap Trust"},
        // Locked before it was ever trusted: both steps, or the user unlocks and waits.
        {attached(ReadError::Locked), "unlock it with its passcode, and tap Trust if it asks"},
        {attached(ReadError::Denied), "told not to trust this computer: unplug it"},
        {attached(ReadError::InvalidHostId), "no longer trusts this computer"},
        {attached(ReadError::Ssl), "pairing record is broken (an SSL error)"},
        {attached(ReadError::Other, "lockdown error -8"),
         "does not answer (lockdown error -8); trying again."},
    };
    for (const auto& [state, says] : cases) {
        EXPECT_TRUE(ios::statusText(state).contains(QString::fromUtf8(says)))
            << says << "\nin: " << ios::statusText(state).toStdString();
    }
}

TEST(CommandLine, ChoosesADeviceOrAnswersWithoutAWindow) {
    using Action = app::CommandLine::Action;
    struct Case {
        QStringList arguments;
        Action action;
        const char* serialOrMessage;
    };
    const Case cases[] = {
        {{"device-info"}, Action::Run, ""},
        {{"device-info", "--serial", "R58M12ABCDE"}, Action::Run, "R58M12ABCDE"},
        {{"device-info", "-s", "00008110-001A2B3C4D5E801E"},
         Action::Run,
         "00008110-001A2B3C4D5E801E"},
        {{"device-info", "--serial=emulator-5554"}, Action::Run, "emulator-5554"},
        {{"device-info", "--help"}, Action::Help, "--serial <SERIAL>"},
        {{"device-info", "--version"}, Action::Version, "device-info 0."},
        {{"device-info", "--frobnicate"}, Action::Error, "Unknown option 'frobnicate'"},
        {{"device-info", "--serial"}, Action::Error, "Missing value after '--serial'"},
        {{"device-info", "--serial", " "}, Action::Error, "needs a serial"},
        {{"device-info", "phone"}, Action::Error, "unexpected argument 'phone'"},
        {{"device-info", "--list"}, Action::List, ""},
        {{"device-info", "--report", "--json", "-s", "R58M"}, Action::Report, "R58M"},
        {{"device-info", "--report", "--all", "--wait", "5"}, Action::Report, ""},
        {{"device-info", "--report", "--all", "--serial", "R58M"}, Action::Error, "do not go"},
        {{"device-info", "--report", "--wait", "-1"}, Action::Error, "whole number"},
        {{"device-info", "--json"}, Action::Error, "go with --report"},
        {{"device-info", "--list", "--report"}, Action::Error, "do not go together"},
        {{"device-info", "--list", "--wait", "3"}, Action::Error, "--list takes no"},
        {{"device-info", "--history"}, Action::History, ""},
        {{"device-info", "--history", "--json", "-s", "R58M"}, Action::History, "R58M"},
        {{"device-info", "--history", "--all"}, Action::Error, "--history takes only"},
        {{"device-info", "--history", "--serve", "9877"}, Action::Error, "--history takes only"},
        {{"device-info", "--follow", "--waybar"}, Action::Follow, ""},
        {{"device-info", "--follow", "--json"}, Action::Follow, ""},
        {{"device-info", "--follow"}, Action::Error, "one of --json and --waybar"},
        {{"device-info", "--follow", "--json", "--waybar"}, Action::Error, "one of --json"},
        {{"device-info", "--follow", "--json", "--all"}, Action::Error, "one of --json"},
        {{"device-info", "--report", "--waybar"}, Action::Error, "--waybar goes with --follow"},
        {{"device-info", "--notifications"}, Action::Run, ""},
        {{"device-info", "--notifications", "-s", "R58M"}, Action::Error, "takes no other"},
    };
    for (const Case& c : cases) {
        const app::CommandLine command = app::parseCommandLine(c.arguments);
        EXPECT_EQ(command.action, c.action) << c.arguments.join(' ').toStdString();
        const bool runs = c.action == Action::Run || c.action == Action::List ||
                          c.action == Action::Report || c.action == Action::History;
        const QString& got = runs ? command.script.serial : command.message;
        EXPECT_TRUE(got.contains(QString::fromUtf8(c.serialOrMessage)))
            << c.arguments.join(' ').toStdString() << ": " << got.toStdString();
        EXPECT_EQ(command.waybar, c.arguments.contains("--waybar") && c.action == Action::Follow);
        EXPECT_EQ(command.notifications,
                  c.arguments.size() == 2 && c.arguments[1] == "--notifications");
    }
}

TEST(CommandLine, ServeSaysWhatItDoesNotTake) {
    const std::pair<QStringList, const char*> cases[] = {
        {{"device-info", "--serve", "9877", "--json"},
         "--serve takes only --interval, --web-config and --connect\n"},
        {{"device-info", "--serve", "lab-01:1"},
         "--serve needs [HOST:]PORT: HOST 'lab-01' is not an IP address or localhost\n"},
        {{"device-info", "--serve", "0.0.0.0:99999"},
         "--serve needs [HOST:]PORT: PORT '99999' is not a number from 0 to 65535\n"},
        {{"device-info", "--serve", "1", "--interval", "0"},
         "--interval needs a whole number of seconds, from 1 to 86400\n"},
        {{"device-info", "--interval", "5"},
         "--interval, --web-config and --connect go with --serve\n"},
        {{"device-info", "--report", "--web-config", "w.yml"},
         "--interval, --web-config and --connect go with --serve\n"},
        {{"device-info", "--serve", "1", "--web-config", ""}, "--web-config needs a file\n"},
        {{"device-info", "--serve", "1", "--connect", "phone lab"},
         "--connect needs HOST[:PORT]: 'phone lab' is not HOST or HOST:PORT\n"},
        {{"device-info", "--connect", "10.0.0.5"},
         "--interval, --web-config and --connect go with --serve\n"},
    };
    for (const auto& [arguments, says] : cases) {
        const QString message = app::parseCommandLine(arguments).message;
        EXPECT_EQ(message.section(u'\n', 0, 0) + u'\n', "device-info: " + QString::fromLatin1(says))
            << message.toStdString();
    }
}

TEST(CommandLine, ServeTakesAnAddressAndAnInterval) {
    using Action = app::CommandLine::Action;
    struct Case {
        QStringList arguments;
        Action action;
        const char* host; // each HOST:PORT served
        int interval;
    };
    const Case cases[] = {
        {{"device-info", "--serve", "9877"}, Action::Serve, "127.0.0.1:9877", 30},
        {{"device-info", "--serve", "0.0.0.0:9100", "--interval", "5"},
         Action::Serve,
         "0.0.0.0:9100",
         5},
        {{"device-info", "--serve", "[::1]:0", "--interval", "1"}, Action::Serve, "::1:0", 1},
        {{"device-info", "--serve", "65535"}, Action::Serve, "127.0.0.1:65535", 30},
        {{"device-info", "--serve", "65536"}, Action::Error, "", 0},
        // localhost is both loopback addresses, looked up nowhere.
        {{"device-info", "--serve", "localhost:9877"},
         Action::Serve,
         "127.0.0.1:9877 ::1:9877",
         30},
        {{"device-info", "--serve", "localhost.:9877"}, Action::Error, "", 0},
        // An empty host is not taken for every interface, as some exporters take it.
        {{"device-info", "--serve", ":9877"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--interval", "0"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--interval", "86401"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--interval", "86400"},
         Action::Serve,
         "127.0.0.1:9877",
         86400},
        // Each --serve given is served, as exporters take --web.listen-address.
        {{"device-info", "--serve", "9877", "--serve", "[::1]:9100"},
         Action::Serve,
         "127.0.0.1:9877 ::1:9100",
         30},
        {{"device-info", "--serve", "9877", "--json"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--list"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--report"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--all"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--wait", "3"}, Action::Error, "", 0},
        {{"device-info", "--serve", "9877", "--serial", "R58M"}, Action::Error, "", 0},
        {{"device-info", "--report", "--interval", "5"}, Action::Error, "", 0},
    };
    for (const Case& c : cases) {
        const app::CommandLine command = app::parseCommandLine(c.arguments);
        EXPECT_EQ(command.action, c.action) << c.arguments.join(' ').toStdString();
        if (c.action != Action::Serve)
            continue;
        EXPECT_TRUE(command.message.isEmpty());
        QStringList hosts;
        for (const exporter::ListenAddress& listen : command.serve.listen) {
            for (const QHostAddress& host : listen.hosts)
                hosts << host.toString() + u':' + QString::number(listen.port);
        }
        EXPECT_EQ(hosts.join(u' '), QString::fromLatin1(c.host));
        EXPECT_EQ(command.serve.intervalSeconds, c.interval);
    }
}

// The program itself, as a shell runs it: what the manual page promises of its exit status and
// its words, without a display.
TEST(CommandLine, TheProgramAnswersOnItsOwnStreamsWithTheManualsExitStatus) {
    struct Case {
        QStringList arguments;
        int status;
        const char* out; // the start of standard output
        const char* err; // all of standard error
    };
    const Case cases[] = {
        {{"--frobnicate"},
         2,
         "",
         "device-info: Unknown option 'frobnicate'.\nTry 'device-info --help' for more "
         "information.\n"},
        {{"--serial"}, 2, "", nullptr},
        {{"--help"}, 0, "Usage: device-info [options]\n", ""},
        {{"--version"}, 0, "device-info 0.", ""},
    };
    for (const Case& c : cases) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(DEVICE_INFO_EXE), c.arguments);
        ASSERT_TRUE(program.waitForFinished(10000)) << c.arguments.join(' ').toStdString();
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), c.status) << c.arguments.join(' ').toStdString();
        if (*c.out)
            EXPECT_TRUE(out.startsWith(QString::fromUtf8(c.out)))
                << c.arguments.join(' ').toStdString() << ": " << out.toStdString();
        else
            EXPECT_EQ(out, QString()) << "nothing on standard output";
        if (c.err)
            EXPECT_EQ(err, QString::fromUtf8(c.err)) << c.arguments.join(' ').toStdString();
        else
            EXPECT_EQ(err.count(u'\n'), 2) << "one line and its hint: " << err.toStdString();
    }
}

} // namespace
