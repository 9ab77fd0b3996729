// iPhones and iPads through the real libimobiledevice and a simulated usbmuxd, in the window as
// the app makes it: one link over both kinds of device.
#include "e2e_fixture.h"

#include "app/command_line.h"
#include "desktop/device_menu.h"
#include "device_link/combined_link.h"
#include "device_link/ios/ios_link.h"
#include "device_link/ios/lockdown_session.h"

#include <QAction>
#include <QClipboard>
#include <QMenu>

namespace {

const QString kIphone = QStringLiteral("00008110-001A2B3C4D5E801E");

class IphoneEndToEnd : public EndToEnd {
protected:
    void TearDown() override {
        form.reset();
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
    }

    SimulatorProcess* startIphone(const char* profile) {
        SimulatorProcess* device = harness.startIphone(QString::fromLatin1(profile));
        EXPECT_NE(device, nullptr) << harness.error().toStdString();
        return device;
    }

    // The app's link: Android devices through the private adb server, Apple ones through the
    // simulated usbmuxd, which must be running before the link subscribes.
    void openBoth(int deadlineMs = 3000) {
        auto android = std::make_unique<AdbLink>(harness.socketSpec());
        onHarness(*android);
        adbLink = android.get();
        auto apple = std::make_unique<IosLink>();
        apple->setTiming({.deadlineMs = deadlineMs, .retryMs = 300});
        iosLink = apple.get();
        std::vector<CombinedLink::Kind> kinds;
        kinds.push_back({QStringLiteral("Android:"), std::move(android)});
        kinds.push_back({QStringLiteral("iPhone and iPad:"), std::move(apple)});
        openWindowWith(std::make_unique<CombinedLink>(std::move(kinds)));
    }

    bool showsTitle(const QString& title, int ms = 10000) {
        return waitUntil([&] { return form->windowTitle() == title; }, ms);
    }

    IosLink* iosLink = nullptr;
};

struct Shown {
    const char* profile;
    const char* title;
    const char* storageTotal;
    const char* storageFree;
    const char* processor;
    const char* battery;
    float batteryBar;
    const char* lifeTime; // from the battery's registry, in minutes
    const char* fullTime;
    const char* mains;
    const char* width;
    const char* height;
    const char* processorDetail; // on hover
    const char* system;          // at the end of the status
    const char* health;          // on hover over the power panel
};

class IphonePanels : public IphoneEndToEnd, public ::testing::WithParamInterface<Shown> {};

TEST_P(IphonePanels, FillEveryPanelTheyCan) {
    const Shown& want = GetParam();
    SimulatorProcess* phone = startIphone(want.profile);
    ASSERT_NE(phone, nullptr);
    openBoth();
    ASSERT_TRUE(showsTitle(QString::fromUtf8(want.title)))
        << statusLink->statusText().toStdString();
    EXPECT_EQ(codes, (std::vector<int>{0})) << "no address over USB";
    EXPECT_TRUE(connectedLook());
    EXPECT_TRUE(refresh()->isEnabled());
    // No service of an iPhone gives its physical memory.
    EXPECT_EQ(text("MemoryLabel"), "Unavailable");
    EXPECT_EQ(text("AvailableLabel"), "Unavailable");
    EXPECT_EQ(text("StorageLabel"), want.storageTotal);
    EXPECT_EQ(text("StorageFreeLabel"), want.storageFree);
    EXPECT_EQ(text("ProcessorLabel"), want.processor);
    EXPECT_EQ(text("BatteryStatusLabel"), want.battery);
    EXPECT_EQ(bar("BatteryLifeBar"), want.batteryBar);
    EXPECT_EQ(text("BatteryLifeLabel"), want.lifeTime);
    EXPECT_EQ(text("BatteryFullTimeLabel"), want.fullTime);
    EXPECT_EQ(text("ACLineStatusLabel"), want.mains);
    EXPECT_EQ(text("ScreenWidthLabel"), want.width);
    EXPECT_EQ(text("ScreenHeightLabel"), want.height);
    EXPECT_EQ(text("IPAddrLabel"), "");
    EXPECT_EQ(failures->count(), 0);
    EXPECT_TRUE(statusLink->statusText().startsWith("Connected to "))
        << statusLink->statusText().toStdString();
    EXPECT_TRUE(statusLink->statusText().contains("by USB, through usbmuxd"));
    EXPECT_TRUE(statusLink->statusText().endsWith(want.system))
        << statusLink->statusText().toStdString();
    EXPECT_TRUE(
        form->findChild<QWidget*>("ProcessorLabel")->toolTip().contains(want.processorDetail));
    EXPECT_TRUE(form->findChild<QWidget*>("ScreenWidthLabel")->toolTip().contains("Scale factor"));
    EXPECT_TRUE(form->findChild<QWidget*>("BatteryLifeLabel")->toolTip().contains(want.health))
        << form->findChild<QWidget*>("BatteryLifeLabel")->toolTip().toStdString();
    // Asked by class first, with no name: what every iOS answers.
    const QJsonObject counts = QJsonDocument::fromJson(phone->control("count").toUtf8()).object();
    EXPECT_GE(counts.value("diagnostics IORegistry /IOPMPowerSource").toInt(), 1);
    // Every session in TLS, as a real device's, with the certificates usbmuxd keeps.
    EXPECT_EQ(phone->control("handshakes").toInt(), counts.value("StartSession").toInt());
    EXPECT_GE(phone->control("handshakes").toInt(), 1);
    // Copy all carries the same system words as the status.
    form->actions().value(0)->trigger();
    const QString name = QString::fromUtf8(want.title).mid(13).chopped(1);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("\nStatus: Connected to " + name))
        << QGuiApplication::clipboard()->text().toStdString();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(want.system));
    // No memory to read: its bar's 0 means nothing, and the report says so.
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(
        "Physical: Unavailable\nAvailable: Unavailable\nUsage (%): Unavailable\n"))
        << QGuiApplication::clipboard()->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, IphonePanels,
    ::testing::Values(
        // AmountDataAvailable, not the far larger TotalDataAvailable of iOS 17.
        Shown{"current_iphone", "Device Info (Ana's iPhone)", "111,592,116,224 bytes",
              "61,354,827,776 bytes", "Unknown", "High", 81.0f, "10 hours  10 min", "Unknown",
              "Disconnected", " 1179 pixels", " 2556 pixels", "arm64e; hardware model D73AP",
              "iOS 17.5, model iPhone15,2.",
              "Maximum capacity: 87% of its design (2,850 of 3,279 mAh)"},
        // iOS 18 answers a registry query by class only; its design figure is in BatteryData.
        Shown{"iphone_ios18", "Device Info (Ben's iPhone)", "111,592,116,224 bytes",
              "61,354,827,776 bytes", "Unknown", "High", 64.0f, "7 hours  5 min", "Unknown",
              "Disconnected", " 1179 pixels", " 2556 pixels", "arm64e; hardware model D83AP",
              "iOS 18.1, model iPhone16,1.",
              "Maximum capacity: 97% of its design (3,262 of 3,349 mAh)"},
        // An older iPad has no AmountDataAvailable: TotalDataAvailable stands in.
        Shown{"ipad_on_mains", "Device Info (Kitchen iPad)", "52,776,558,592 bytes",
              "20,512,096,256 bytes", "Unknown", "Charging", 64.0f, "Unknown", "1 hour  35 min",
              "Connected", " 1620 pixels", " 2160 pixels", "arm64; hardware model J417AP",
              "iPadOS 16.7.8, model iPad8,9.",
              "Maximum capacity: 94% of its design (7,606 of 8,134 mAh)"}));

// Locked before it ever trusted this computer: unlocking it tells usbmuxd nothing, so only a
// link that keeps asking finds the Trust prompt and, once tapped, the device.
// The battery watch on an iPhone: its battery domain alone, on the session the window keeps,
// read again and again.
TEST_F(IphoneEndToEnd, AnIphonesBatteryIsReadAloneOnItsSessionAgainAndAgain) {
    SimulatorProcess* phone = startIphone("current_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth();
    ASSERT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    const auto counted = [&](const char* request) {
        return QJsonDocument::fromJson(phone->control("count").toUtf8())
            .object()
            .value(QLatin1String(request))
            .toInt();
    };
    const int disk = counted("GetValue com.apple.disk_usage");
    const int sessions = counted("StartSession");
    QSignalSpy read(statusLink, &KindLink::batteryRead);
    for (int i = 1; i <= 3; ++i) {
        statusLink->readBattery();
        ASSERT_TRUE(waitUntil([&] { return read.count() == i; }, 5000)) << i;
    }
    const auto battery = read.last().at(0).value<DeviceReading>();
    EXPECT_EQ(battery.error, QString());
    ASSERT_TRUE(battery.power.has_value());
    EXPECT_EQ(battery.power->percent, 81);
    EXPECT_EQ(battery.mains, 0);
    EXPECT_EQ(counted("GetValue com.apple.disk_usage"), disk) << "the battery alone";
    EXPECT_EQ(counted("StartSession"), sessions) << "on the session kept";
}

TEST_F(IphoneEndToEnd, LockedIphoneGoesOnByItselfOnceUnlocked) {
    SimulatorProcess* phone = startIphone("locked_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth();
    ASSERT_TRUE(waitUntil([&] { return iosLink->statusText().contains("It is locked"); }))
        << iosLink->statusText().toStdString();
    ASSERT_EQ(phone->control("unlock"), "ok");
    EXPECT_TRUE(waitUntil([&] { return iosLink->statusText().contains("tap Trust;"); }, 5000))
        << iosLink->statusText().toStdString();
    ASSERT_EQ(phone->control("trust"), "ok");
    EXPECT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    EXPECT_EQ(codes, (std::vector<int>{0}));
}

TEST_F(IphoneEndToEnd, UntrustedIphoneShowsTheTrustTextThenConnectsOncePaired) {
    SimulatorProcess* phone = startIphone("untrusted_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth();
    EXPECT_TRUE(waitUntil([&] { return iosLink->statusText().contains("tap Trust"); }))
        << iosLink->statusText().toStdString();
    EXPECT_TRUE(statusLink->statusText().contains("iPhone and iPad: " + kIphone));
    QTest::qWait(500); // retrying would raise code 0 by now; it waits for the pairing
    EXPECT_TRUE(codes.empty());
    EXPECT_FALSE(connectedLook());
    EXPECT_TRUE(form->findChild<QWidget*>("Frame2")->toolTip().contains("tap Trust"));

    ASSERT_EQ(phone->control("trust"), "ok");
    EXPECT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    EXPECT_EQ(codes, (std::vector<int>{0}));
}

struct Untrusting {
    const char* profile;
    const char* says;
};

class UntrustingIphones : public IphoneEndToEnd,
                          public ::testing::WithParamInterface<Untrusting> {};

// Each state as the real library reports it from the device's answers.
TEST_P(UntrustingIphones, AreExplainedAndNeverConnect) {
    ASSERT_NE(startIphone(GetParam().profile), nullptr);
    openBoth();
    EXPECT_TRUE(waitUntil([&] { return iosLink->statusText().contains(GetParam().says); }))
        << iosLink->statusText().toStdString();
    EXPECT_TRUE(codes.empty());
    EXPECT_FALSE(connectedLook());
}

INSTANTIATE_TEST_SUITE_P(States, UntrustingIphones,
                         ::testing::Values(Untrusting{"locked_iphone", "It is locked"},
                                           Untrusting{"distrusting_iphone", "told not to trust"},
                                           Untrusting{"forgotten_iphone", "no longer trusts"},
                                           Untrusting{"broken_record_iphone", "SSL error"}));

// udev starts usbmuxd only when a device is plugged in, after the window subscribed.
TEST_F(IphoneEndToEnd, UsbmuxdThatStartsAfterTheWindowIsFoundByTheSlowCheck) {
    const quint16 port = freePort();
    qputenv("USBMUXD_SOCKET_ADDRESS", QByteArray("127.0.0.1:") + QByteArray::number(port));
    openBoth();
    QTest::qWait(300); // the subscription finds no usbmuxd
    ASSERT_NE(harness.startIphone("current_iphone", port), nullptr)
        << harness.error().toStdString();
    EXPECT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
}

TEST_F(IphoneEndToEnd, UnpluggedIphoneClearsTheWindowAndPluggedInAgainFillsIt) {
    SimulatorProcess* phone = startIphone("current_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth();
    ASSERT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    ASSERT_EQ(phone->control("unplug"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }));
    EXPECT_EQ(codes, (std::vector<int>{0, 2}));
    EXPECT_EQ(text("StorageLabel"), "");
    EXPECT_FALSE(refresh()->isEnabled());
    ASSERT_EQ(phone->control("plug"), "ok");
    EXPECT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
}

// Which kind's device the window shows first; the other's is attached once it shows.
enum class First { Android, Iphone };

class BothKinds : public IphoneEndToEnd, public ::testing::WithParamInterface<First> {
protected:
    // The window with ANDROIDS on the adb server and IPHONE behind usbmuxd, attached kind after
    // kind in the order the test asks for; both kinds' links have a device ready at the end.
    void openInOrder(const std::vector<SimulatorProcess*>& androids, SimulatorProcess& iphone) {
        androidFirst = GetParam() == First::Android;
        const auto attach = [&](bool second) {
            if (androidFirst)
                return iphone.control(second ? "plug" : "unplug") == "ok";
            return std::all_of(androids.begin(), androids.end(), [&](SimulatorProcess* a) {
                return second ? harness.connect(*a) : harness.disconnect(*a);
            });
        };
        ASSERT_TRUE(attach(false));
        openBoth();
        ASSERT_TRUE(waitUntil([&] { return connectedLook() && !text("StorageLabel").isEmpty(); }));
        ASSERT_EQ(adbLink->hasDevice(), androidFirst);
        ASSERT_TRUE(attach(true));
        ASSERT_TRUE(waitUntil([&] { return adbLink->hasDevice() && iosLink->hasDevice(); }));
    }

    bool androidFirst = true;
};

TEST_P(BothKinds, TheOtherKindWaitsUnseenAndIsShownWhenTheFirstGoes) {
    SimulatorProcess* android = harness.startSimulator("current_phone");
    ASSERT_NE(android, nullptr) << harness.error().toStdString();
    SimulatorProcess* iphone = startIphone("current_iphone");
    ASSERT_NE(iphone, nullptr);
    openInOrder({android}, *iphone);
    ASSERT_FALSE(HasFatalFailure());
    const QString first = androidFirst ? "Device Info (Lab-07)" : "Device Info (Ana's iPhone)";
    const QString second = androidFirst ? "Device Info (Ana's iPhone)" : "Device Info (Lab-07)";

    // The other kind's device, ready too, changes nothing: title, hover details and Copy all.
    QTest::qWait(300);
    EXPECT_EQ(form->windowTitle(), first);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 1);
    const QString tooltip = form->findChild<QWidget*>("ProcessorLabel")->toolTip();
    EXPECT_TRUE(tooltip.contains(androidFirst ? "System on chip: Google GS201"
                                              : "arm64e; hardware model D73AP"))
        << tooltip.toStdString();
    form->actions().value(0)->trigger();
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(first + "\nConnection: Connected\n")) << copied.toStdString();
    EXPECT_TRUE(copied.contains(androidFirst ? "\nStatus: Connected to Pixel 7a"
                                             : "\nStatus: Connected to Ana's iPhone"))
        << copied.toStdString();
    EXPECT_EQ(copied.count("Device Info ("), 1);

    // The first goes: the other is shown at once.
    ASSERT_EQ(androidFirst ? android->control("vanish") : iphone->control("unplug"), "ok");
    EXPECT_TRUE(showsTitle(second));
    EXPECT_TRUE(connectedLook());
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 2);
    refresh()->click();
    EXPECT_EQ(form->windowTitle(), second);
    EXPECT_EQ(failures->count(), 0);
    // Then the second goes too: nothing is left to show.
    ASSERT_EQ(androidFirst ? iphone->control("unplug") : android->control("vanish"), "ok");
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }, 8000));
    QTest::qWait(300); // a code 0 for a device gone earlier would come now
    EXPECT_FALSE(connectedLook());
    EXPECT_FALSE(refresh()->isEnabled());
    EXPECT_EQ(failures->count(), 0);
}

// Two Android devices and an iPhone, as on a tester's desk: the Device menu shows the one
// chosen, saying only true things on the way, waits for it while it is gone, and goes back to
// the first ready device.
TEST_P(BothKinds, DeviceMenuFollowsTheChoiceSayingOnlyTrueThings) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    SimulatorProcess* tablet = harness.startSimulator("tablet_on_mains");
    ASSERT_TRUE(phone && tablet) << harness.error().toStdString();
    SimulatorProcess* iphone = startIphone("current_iphone");
    ASSERT_NE(iphone, nullptr);
    openInOrder({phone, tablet}, *iphone);
    ASSERT_FALSE(HasFatalFailure());
    auto* link = static_cast<CombinedLink*>(statusLink);
    QMenu* menu = desktop::installDeviceMenu(*form, *link);
    const auto tip = [this] { return form->findChild<QWidget*>("Frame2")->toolTip(); };
    ASSERT_TRUE(waitUntil([&] { return link->attachedDevices().size() == 3; }));
    EXPECT_TRUE(waitUntil([&] { return tip().contains("2 more devices are attached ("); }))
        << tip().toStdString();
    EXPECT_TRUE(tip().contains("right-click to choose."));
    const auto choose = [menu](const QString& words) {
        emit menu->aboutToShow(); // as opening it does
        for (QAction* entry : menu->actions()) {
            if (entry->text().contains(words)) {
                EXPECT_TRUE(entry->isEnabled()) << words.toStdString();
                return entry->trigger();
            }
        }
        ADD_FAILURE() << "no entry " << words.toStdString();
    };
    // A switch says "Reading ...", then "Connected to ...", on standard error and in the
    // tooltip; the kind that does not list the device stands aside without a word.
    const auto switchTo = [&](const QString& words, const QString& title) {
        QStringList said;
        const auto spy = QObject::connect(link, &KindLink::statusChanged,
                                          [&said](const QString& text) { said << text; });
        CapturedStderr stderrLines;
        choose(words);
        EXPECT_TRUE(showsTitle(title)) << link->statusText().toStdString();
        EXPECT_TRUE(waitUntil([&] { return link->statusText().startsWith("Connected to "); }))
            << link->statusText().toStdString();
        QTest::qWait(200);
        QObject::disconnect(spy);
        const QStringList lines = stderrLines.lines();
        for (const QString& line : lines)
            EXPECT_TRUE(line.startsWith("device-info: Reading ") ||
                        line.startsWith("device-info: Connected to "))
                << words.toStdString() << ": " << line.toStdString();
        for (const QString& text : said)
            EXPECT_FALSE(text.contains("Waiting for") || text.contains("\"device\"") ||
                         text.contains("Re-plug"))
                << words.toStdString() << ": " << text.toStdString();
    };

    // An Android device not shown now, then the iPhone.
    SimulatorProcess* chosen = adbLink->followedSerial() == tablet->serial() ? phone : tablet;
    const QString chosenTitle =
        chosen == tablet ? "Device Info (Kitchen tablet)" : "Device Info (Lab-07)";
    switchTo("Android, " + chosen->serial(), chosenTitle);
    EXPECT_EQ(link->wantedSerial(), chosen->serial());
    switchTo("iPhone, " + kIphone, "Device Info (Ana's iPhone)");

    // Back to the first ready device, while one is shown: it stays, unread and unblanked.
    const std::size_t events = codes.size();
    const QString requests = iphone->control("count");
    choose("First ready device");
    QTest::qWait(500);
    EXPECT_EQ(codes.size(), events);
    EXPECT_EQ(form->windowTitle(), "Device Info (Ana's iPhone)");
    EXPECT_EQ(iphone->control("count"), requests);
    EXPECT_TRUE(link->wantedSerial().isEmpty());

    // Chosen, a device is waited for while it is gone, however many others are ready.
    switchTo("Android, " + chosen->serial(), chosenTitle);
    ASSERT_TRUE(harness.disconnect(*chosen));
    EXPECT_TRUE(waitUntil([&] { return !connectedLook(); }, 8000));
    QTest::qWait(500);
    EXPECT_FALSE(connectedLook());
    EXPECT_TRUE(
        link->statusText().contains("Waiting for " + chosen->serial() + " (the Device menu)"))
        << link->statusText().toStdString();
    EXPECT_TRUE(link->statusText().contains(
        chosen->serial() + " was chosen (the Device menu): iPhones and iPads are ignored."))
        << link->statusText().toStdString();

    choose("First ready device");
    EXPECT_TRUE(waitUntil([&] { return connectedLook(); }));
    EXPECT_TRUE(link->wantedSerial().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return tip().contains("1 more device is attached ("); }))
        << tip().toStdString();
    // The other goes, and so does the sentence.
    SimulatorProcess* other = chosen == tablet ? phone : tablet;
    const bool iphoneShown = link->followedSerial() == kIphone;
    ASSERT_TRUE(iphoneShown ? harness.disconnect(*other) : iphone->control("unplug") == "ok");
    EXPECT_TRUE(waitUntil([&] { return !tip().contains("more device"); }, 8000))
        << tip().toStdString();
    EXPECT_TRUE(connectedLook());
    EXPECT_EQ(failures->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, BothKinds, ::testing::Values(First::Android, First::Iphone),
                         [](const auto& info) {
                             return info.param == First::Android ? "AndroidFirst" : "IphoneFirst";
                         });

// lockdownd gives a device's name and class outside a session: the menu names every device
// before it is shown, and no Trust prompt comes for it.
TEST_F(IphoneEndToEnd, DeviceMenuNamesIphonesAndIpadsBeforeTheyAreShown) {
    SimulatorProcess* android = harness.startSimulator("current_phone");
    ASSERT_NE(android, nullptr) << harness.error().toStdString();
    SimulatorProcess* apple = harness.startIphones({"current_iphone", "ipad_on_mains"});
    ASSERT_NE(apple, nullptr) << harness.error().toStdString();
    openBoth();
    auto* link = static_cast<CombinedLink*>(statusLink);
    link->setWantedSerial(android->serial(), "--serial");
    const QString ipad = QStringLiteral("00008027-000E1D2C3B4A5968");
    const std::vector<AttachedDevice> named{
        {kIphone, DeviceKind::Apple, "iPhone", "Ana's iPhone", ""},
        {ipad, DeviceKind::Apple, "iPad", "Kitchen iPad", ""}};
    EXPECT_TRUE(waitUntil([&] { return iosLink->attachedDevices() == named; }));
    EXPECT_TRUE(showsTitle("Device Info (Lab-07)"));
    EXPECT_TRUE(waitUntil([&] {
        return link->statusText().endsWith(
            " 2 more devices are attached (iPhone, iPad): right-click to choose.");
    })) << link->statusText().toStdString();
    QMenu* menu = desktop::installDeviceMenu(*form, *link);
    emit menu->aboutToShow();
    QStringList entries;
    for (const QAction* entry : menu->actions())
        entries << entry->text();
    EXPECT_TRUE(entries.contains("Ana's iPhone (iPhone, " + kIphone + ")"))
        << entries.join('|').toStdString();
    EXPECT_TRUE(entries.contains("Kitchen iPad (iPad, " + ipad + ")"))
        << entries.join('|').toStdString();
    const QJsonObject counts = QJsonDocument::fromJson(apple->control("count").toUtf8()).object();
    EXPECT_EQ(counts.value("StartSession").toInt(), 0);
    EXPECT_EQ(counts.value("Pair").toInt(), 0);
    // Outside a session lockdownd gives those few values, and no more.
    QStringList given = ios::publicValues(kIphone.toStdString()).keys();
    given.sort();
    EXPECT_EQ(given, (QStringList{"BuildVersion", "DeviceClass", "DeviceName", "DevicePublicKey",
                                  "ProductType", "ProductVersion", "UniqueDeviceID"}));
}

TEST_F(IphoneEndToEnd, SerialChoosesADeviceOfEitherKind) {
    SimulatorProcess* android = harness.startSimulator("current_phone");
    ASSERT_NE(android, nullptr) << harness.error().toStdString();
    ASSERT_NE(startIphone("current_iphone"), nullptr);
    qputenv("ADB_SERVER_SOCKET", harness.socketSpec().toUtf8());
    struct Choice {
        QString serial;
        const char* title;
        std::vector<int> codes; // an Android device also gives its address
    };
    for (const Choice& choice : {Choice{kIphone, "Device Info (Ana's iPhone)", {0}},
                                 Choice{android->serial(), "Device Info (Lab-07)", {0, 5}}}) {
        codes.clear();
        const app::CommandLine command =
            app::parseCommandLine({"device-info", "--serial", choice.serial});
        openWindowWith(app::makeDeviceLink(command.script.serial));
        EXPECT_TRUE(showsTitle(QString::fromUtf8(choice.title)))
            << statusLink->statusText().toStdString();
        QTest::qWait(300); // the other kind's device, ready too, is never shown
        EXPECT_EQ(codes, choice.codes);
        EXPECT_EQ(form->windowTitle(), choice.title);
        form.reset();
    }
    qunsetenv("ADB_SERVER_SOCKET");
}

// The link with the program's own timings: a slow iPhone that answers within them refreshes,
// a hung one fails at the deadline its message gives.
TEST_F(IphoneEndToEnd, TheProgramsOwnDeadlineLetsASlowIphoneAnswerAndStopsAHungOne) {
    SimulatorProcess* phone = startIphone("current_iphone");
    ASSERT_NE(phone, nullptr);
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({QStringLiteral("iPhone and iPad:"), std::make_unique<IosLink>()});
    openWindowWith(std::make_unique<CombinedLink>(std::move(kinds)));
    ASSERT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    // Some 2.4 s for the four domains, as a busy older iPhone takes.
    ASSERT_EQ(phone->control("set latencyMs 600"), "ok");
    ASSERT_EQ(phone->control("set battery.level 55"), "ok");
    QElapsedTimer clock;
    clock.start();
    refresh()->click();
    EXPECT_GE(clock.elapsed(), 2000) << "the slow session was the one read";
    EXPECT_EQ(failures->count(), 0) << failures->value(0).value(0).toString().toStdString();
    EXPECT_EQ(bar("BatteryLifeBar"), 55.0f);

    ASSERT_EQ(phone->control("hang"), "ok");
    clock.restart();
    refresh()->click();
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_LT(clock.elapsed(), 3800);
    ASSERT_EQ(failures->count(), 1);
    EXPECT_TRUE(failures->last().at(0).toString().contains("no answer within 3 s"))
        << failures->last().at(0).toString().toStdString();
}

// A session's TLS handshake is most of what a read costs: the session stays open from one
// refresh to the next, and one the device closed is opened anew without a word to the user.
TEST_F(IphoneEndToEnd, RefreshesShareOneSessionAndAClosedOneIsOpenedAnew) {
    SimulatorProcess* phone = startIphone("current_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth();
    ASSERT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    const auto sessions = [phone] {
        return QJsonDocument::fromJson(phone->control("count").toUtf8())
            .object()
            .value("StartSession")
            .toInt();
    };
    refresh()->click();
    refresh()->click();
    EXPECT_EQ(sessions(), 1);
    ASSERT_EQ(phone->control("close"), "ok");
    QTest::qWait(100); // the library's sockets see the close
    ASSERT_EQ(phone->control("set battery.level 42"), "ok");
    refresh()->click();
    EXPECT_EQ(failures->count(), 0) << failures->value(0).value(0).toString().toStdString();
    EXPECT_EQ(bar("BatteryLifeBar"), 42.0f);
    EXPECT_EQ(sessions(), 2);
    EXPECT_EQ(phone->control("handshakes").toInt(), 2);
}

TEST_F(IphoneEndToEnd, HungIphoneFailsTheRefreshWithinTheDeadlineAndTheWindowLives) {
    SimulatorProcess* phone = startIphone("current_iphone");
    ASSERT_NE(phone, nullptr);
    openBoth(/*deadlineMs=*/1000);
    ASSERT_TRUE(showsTitle("Device Info (Ana's iPhone)"));
    ASSERT_EQ(phone->control("hang"), "ok");
    QElapsedTimer clock;
    clock.start();
    refresh()->click();
    EXPECT_LT(clock.elapsed(), 2500) << "a stuck library call does not hold the window";
    ASSERT_EQ(failures->count(), 1);
    EXPECT_TRUE(failures->last().at(0).toString().contains("no answer within 1 s"))
        << failures->last().at(0).toString().toStdString();
    ASSERT_EQ(phone->control("resume"), "ok");
    refresh()->click();
    EXPECT_EQ(failures->count(), 1) << "the refresh after resuming works";
    EXPECT_EQ(form->windowTitle(), "Device Info (Ana's iPhone)");
}

} // namespace
