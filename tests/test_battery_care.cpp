// Battery care: when each notification comes, as one table of readings in order; the settings
// as the dialog writes them and the next start reads them; and the window's part, on a scripted
// link.
#include "care/care_settings.h"
#include "care/care_state.h"
#include "care/care_watch.h"
#include "care/keep_watch.h"
#include "desktop/battery_care.h"
#include "desktop/notifications_dialog.h"
#include "desktop/wifi.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "layout/progress_bar.h"
#include "qt_printers.h"
#include "scripted_link.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QDateTime kStart(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);

TEST(BatteryCareRules, EachWordComesOnceAndIsArmedAgainOnlyWhenItsConditionHasEnded) {
    struct Step {
        const char* serial;
        int minute;
        double level;
        bool charging;
        double celsius;
        const char* says;        // "" for nothing
        const char* coarse = ""; // a level word in place of a percentage (level < 0)
        double watts = 1;        // into the battery
        bool mains = false;
    };
    const Step steps[] = {
        // A charge rising past the limit, hovering around it, unplugged and plugged in again.
        {"A", 0, 76, true, 30, ""},
        {"A", 1, 79.9, true, 30, ""},
        {"A", 2, 80, true, 30, "Pixel Lab 7 reached 80% — unplug it to spare the battery"},
        {"A", 3, 81, true, 30, ""},
        {"A", 4, 79, true, 30, ""},
        {"A", 5, 80, true, 30, ""},
        {"A", 6, 80, false, 30, ""},
        {"A", 7, 80, true, 30, ""}, // armed again, but within ten minutes of the last
        {"A", 13, 82.5, true, 30, "Pixel Lab 7 reached 82% — unplug it to spare the battery"},
        {"A", 14, 76, true, 30, ""},
        {"A", 25, 80, true, 30, ""}, // 76 is not 5 points below 80: not armed again
        {"A", 26, 75, true, 30, ""},
        {"A", 27, 80, true, 30, "Pixel Lab 7 reached 80% — unplug it to spare the battery"},
        // Never while it is not charging, however full.
        {"C", 0, 95, false, 30, ""},
        // A second device, running low, with its own arming and quiet.
        {"B", 0, 22, false, 30, ""},
        {"B", 1, 20, false, 30, "B is down to 20%"},
        {"B", 2, 19, false, 30, ""},
        {"B", 3, 24, false, 30, ""},
        {"B", 4, 19, false, 30, ""},
        {"B", 5, 25, false, 30, ""},
        {"B", 6, 20, false, 30, ""},
        {"B", 11, 18, false, 30, "B is down to 18%"}, // exactly ten minutes after the last
        {"B", 13, 17, true, 30, ""},
        {"B", 30, 15, true, 30, ""},
        {"B", 31, 15, false, 30, "B is down to 15%"},
        {"B", 45, 18, false, 30, ""}, // 18 is not 5 points above 20: not armed again
        // A temperature that flickers around its threshold: once, then 3 °C cooler first.
        {"A", 40, 60, false, 40, ""},
        {"A", 41, 60, false, 40.5, "Pixel Lab 7's battery is at 40.5 °C"},
        {"A", 42, 60, false, 39.5, ""},
        {"A", 43, 60, false, 41, ""},
        {"A", 44, 60, false, 37.2, ""},
        {"A", 45, 60, false, 41, ""},
        {"A", 46, 60, false, 37, ""},
        {"A", 47, 60, false, 41, ""}, // armed again, but within ten minutes of the last
        {"A", 52, 60, false, 41.04, "Pixel Lab 7's battery is at 41 °C"},
        // A coarse level alone: low when it says so, armed again once it is not.
        {"H", 0, -1, false, 30, "", "normal"},
        {"H", 1, -1, false, 30, "H's battery is low", "low"},
        {"H", 2, -1, false, 30, "", "critical"},
        {"H", 20, -1, true, 30, "", "critical"},
        {"H", 21, -1, false, 30, "H's battery is critical", "critical"},
        // Losing charge: on battery is no news; plugged in, once, until it charges again.
        {"P", 0, 50, false, 30, "", "", -1.5, false},
        {"P", 1, 50, false, 30, "P is losing charge while plugged in", "", -1.9, true},
        {"P", 2, 49, false, 30, "", "", -0.05, true}, // a full battery's float
        {"P", 14, 48, false, 30, "", "", -1.9, true},
        {"P", 15, 48, false, 30, "", "", 2, true},
        {"P", 16, 48, false, 30, "P is losing charge while plugged in", "", -0.2, true},
    };
    care::Rules rules;
    const care::Limits limits{80, 20, 40, 60, 1};
    for (const Step& s : steps) {
        care::Reading r;
        r.serial = QString::fromLatin1(s.serial);
        r.name = r.serial == "A" ? QStringLiteral("Pixel Lab 7") : QString();
        r.percent = s.level < 0 ? std::nullopt : std::optional(s.level);
        r.level = QString::fromLatin1(s.coarse);
        r.charging = s.charging;
        r.temperatureC = s.celsius;
        r.time = kStart.addSecs(s.minute * 60);
        r.flow = s.watts;
        r.onMains = s.mains;
        r.draining = device::draining(std::nullopt, s.watts, s.mains);
        const std::vector<care::Notice> said = rules.step(limits, r);
        const QString expected = QString::fromUtf8(s.says);
        ASSERT_EQ(said.size(), expected.isEmpty() ? 0u : 1u) << s.serial << " at " << s.minute;
        if (!said.empty()) {
            EXPECT_EQ(said[0].text, expected);
            EXPECT_EQ(said[0].serial, r.serial);
        }
    }
    // Everything off says nothing, whatever it reads: full and hot, or empty.
    care::Rules off;
    for (const auto& [percent, charging] : {std::pair{100.0, true}, std::pair{0.0, false}}) {
        care::Reading r;
        r.serial = "D";
        r.percent = percent;
        r.charging = charging;
        r.temperatureC = 90;
        r.time = kStart;
        r.onMains = true;
        r.flow = -5;
        EXPECT_TRUE(off.step(care::Limits{}, r).empty()) << percent;
    }
    // A device that does not say whether it is on mains is not draining on them.
    DeviceReading unsure;
    unsure.mains = 255;
    unsure.details.battery.powerW = -2;
    EXPECT_FALSE(care::readingOf(unsure, "I", kStart).draining);
    unsure.mains = 1;
    EXPECT_TRUE(care::readingOf(unsure, "I", kStart).draining);
    care::Reading coarse;
    coarse.serial = "H";
    coarse.level = "critical";
    EXPECT_TRUE(off.step(care::Limits{}, coarse).empty());
}

// Settings as a file may hold them: what is taken, and the one line said of the rest.
TEST(BatteryCareSettings, NonsenseGivesTheDefaultsAndOneLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath("device-info.conf");
    struct Case {
        QByteArray file;
        care::Limits limits;
        const char* problem;
        bool panel = false;
    };
    const Case cases[] = {
        {"", {0, 0, 0, 60}, ""},
        {"[notifications]\nchargedPercent=80\nlowPercent=20\nhotCelsius=40\nintervalSeconds=30\n"
         "drainingOnMains=1\n",
         {80, 20, 40, 30, 1},
         ""},
        {"[notifications]\r\nchargedPercent=120\r\nlowPercent=1\r\nhotCelsius=99\r\n"
         "intervalSeconds=5\r\ndrainingOnMains=7",
         {100, 5, 60, 10, 1},
         ""},
        {"[notifications]\nchargedPercent=0\nintervalSeconds=0\nhotCelsius=7200\n",
         {0, 0, 60, 60},
         ""},
        {"[notifications]\nchargedPercent=eighty\nlowPercent=20\nintervalSeconds=1.5\n",
         {0, 20, 0, 60},
         "the notification settings in %1 hold chargedPercent and intervalSeconds, which are not "
         "whole numbers; their defaults stand"},
        {"[notifications]\nlowPercent=x\n",
         {0, 0, 0, 60},
         "the notification settings in %1 hold lowPercent, which is not a whole number; the "
         "default stands"},
        {"[other]\nchargedPercent=80\n", {0, 0, 0, 60}, ""},
        {"[panel]\r\nshow=1", {0, 0, 0, 60}, "", true},
        {"[notifications]\nlowPercent=20\n[panel]\nshow=yes\n",
         {0, 20, 0, 60},
         "the notification settings in %1 hold show in [panel], which is not a whole number; the "
         "default stands"},
    };
    for (const Case& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.file);
        file.close();
        const care::CareSettings read = care::readCareSettings(path);
        EXPECT_EQ(read.limits, c.limits) << c.file.toStdString();
        // The watcher reads for a notice or for the panel.
        EXPECT_EQ(read.panel, c.panel) << c.file.toStdString();
        EXPECT_EQ(read.reads(), c.panel || c.limits.any()) << c.file.toStdString();
        EXPECT_EQ(read.problem, QString::fromUtf8(c.problem).replace("%1", path))
            << c.file.toStdString();
    }
    EXPECT_EQ(care::readCareSettings(dir.filePath("none")).limits, care::Limits());
    EXPECT_EQ(care::writeCareSettings(path + "/below-a-file.conf", care::Limits()),
              "the notification settings cannot be written to " + path + "/below-a-file.conf");
    EXPECT_EQ(care::writeCareSettings(path, {80, 0, 0, 60}), QString());
    EXPECT_EQ(care::writePanelSetting(path, true), QString());
    EXPECT_TRUE(care::readCareSettings(path).sameChoices({{80, 0, 0, 60}, true, {}}));
    // A FIFO in the settings' place is never opened: it would wait for a writer for ever.
    const QString fifo = dir.filePath("fifo.conf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(care::readCareSettings(fifo).problem.isEmpty());
    EXPECT_FALSE(care::writeCareSettings(fifo, {}).isEmpty());
    EXPECT_FALSE(care::writePanelSetting(fifo, true).isEmpty());
    EXPECT_TRUE(desktop::readWifiAddresses(fifo).isEmpty());
    EXPECT_FALSE(desktop::writeWifiAddresses(fifo, {"10.0.0.5:5555"}).isEmpty());
    EXPECT_EQ(care::readCareSettings(dir.path()).problem,
              "the notification settings in " + dir.path() +
                  " cannot be read; notifications are off");
}

// The window on a scripted link: the dialog writes what the next start reads; with a device
// shown the battery is read at the interval and the power panel shows it; with everything off,
// nothing is read.
// What was said, kept across runs: a run started again says nothing it said in the last ten
// minutes, nor anything whose condition has not ended; a file it cannot take starts afresh.
TEST(BatteryCareState, ARunStartedAgainRepeatsNothingAndABrokenFileStartsAfresh) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state/care-state.json");
    QDateTime now = kStart;
    QStringList said;
    const auto clock = [&now] { return now; };
    const auto say = [&said](const QString& line) { said << line; };
    const care::Limits limits{80, 20, 0, 60};
    const auto reading = [&now](const char* serial, double percent, bool charging) {
        return care::Reading{serial, serial, percent, {}, charging, {}, now};
    };
    const auto texts = [](const std::vector<care::Notice>& notices) {
        QStringList out;
        for (const care::Notice& n : notices)
            out << n.text;
        return out;
    };
    {
        care::KeptRules first(path, clock, say); // no file yet: nothing to say
        EXPECT_EQ(texts(first.step(limits, reading("A", 85, true))),
                  QStringList{"A reached 85% — unplug it to spare the battery"});
        EXPECT_EQ(texts(first.step(limits, reading("B", 15, false))),
                  QStringList{"B is down to 15%"});
        EXPECT_TRUE(first.step(limits, reading("B", 30, true)).empty()); // B's low has ended
    }
    const struct {
        int minutes;
        const char* serial;
        double percent;
        bool charging;
        const char* says;
    } again[] = {
        {1, "A", 90, true, ""},                   // still charging above the limit
        {11, "A", 90, true, ""},                  // however long after
        {11, "B", 15, false, "B is down to 15%"}, // ended, and quiet long enough
        {12, "C", 10, false, "C is down to 10%"}, // never heard of
        {13, "A", 60, false, ""},                 // A's condition ends
        {40, "A", 85, true, "A reached 85% — unplug it to spare the battery"},
        {41, "C", 30, true, ""}, // C's condition ends
    };
    for (const auto& row : again) {
        now = kStart.addSecs(row.minutes * 60);
        // Each step in a run of its own, as a watcher started again at that minute.
        care::KeptRules run(path, clock, say);
        const QStringList expected = *row.says ? QStringList{row.says} : QStringList{};
        EXPECT_EQ(texts(run.step(limits, reading(row.serial, row.percent, row.charging))), expected)
            << row.minutes << " " << row.serial;
    }
    // A device gone is remembered as it was left; its memory is dropped only once it says
    // nothing the rules would not say anyway.
    const care::RulesState kept =
        care::parseState(care::stateText(care::KeptRules(path, clock, say).state(), now), now)
            .state;
    EXPECT_EQ(kept.value("A")[0].armed, false);
    EXPECT_EQ(kept.value("B")[1].text, "B is down to 15%");
    EXPECT_FALSE(kept.contains("C")); // ended and quiet: nothing to remember
    // A time to come (a clock set back) silences nothing, and the rest of the file stands.
    const care::KeptState future = care::parseState(
        R"({"version":1,"devices":{"A":{"low":{"at":"2030-01-01T00:00:00Z","ended":true}},
            "B":[1],"":{"hot":{"at":"2026-12-08T09:00:00Z"}}}})",
        now);
    EXPECT_EQ(future.state.value("A")[1].last, now.addSecs(-600));
    EXPECT_EQ(future.state.keys(), QStringList{"A"});
    EXPECT_TRUE(said.isEmpty()) << said.join('\n').toStdString();

    for (const QByteArray& broken : {QByteArray(R"({"version":1,"devices":{"A":)"),
                                     QByteArray(R"({"version":2,"devices":{}})")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(broken);
        file.close();
        care::KeptRules run(path, clock, say);
        EXPECT_TRUE(run.state().isEmpty());
        EXPECT_EQ(texts(run.step(limits, reading("A", 85, true))),
                  QStringList{"A reached 85% — unplug it to spare the battery"});
    }
    EXPECT_EQ(said, QStringList({"what battery care said before, in " + path +
                                     ", is not JSON (unterminated object): it starts afresh",
                                 "what battery care said before, in " + path +
                                     ", is of a version this program does not know: it starts "
                                     "afresh"}));
}

// The autostart entry starts the program the PATH finds by name; another, by its whole path,
// quoted as desktop entries ask.
TEST(BatteryCareState, TheAutostartEntryNamesTheProgramItStarts) {
    const QString entry = care::autostartEntry("/opt/Device Info/bin/device-info");
    EXPECT_EQ(entry, "[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=Device Info battery care\n"
                     "Comment=Notifies when an attached device's battery needs care\n"
                     "Exec=\"/opt/Device Info/bin/device-info\" --care\n"
                     "Icon=org.deviceinfo.DeviceInfo\n"
                     "Terminal=false\n"
                     "NoDisplay=true\n"
                     "X-GNOME-Autostart-Phase=Applications\n");
    EXPECT_TRUE(
        care::autostartEntry("/tmp/100%/d$v").contains("\nExec=\"/tmp/100%%/d\\\\$v\" --care\n"))
        << care::autostartEntry("/tmp/100%/d$v").toStdString();
    // As the desktop's own checker reads it.
    QTemporaryDir dir;
    QFile file(dir.filePath("org.deviceinfo.DeviceInfo.Care.desktop"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(entry.toUtf8());
    file.close();
    QProcess validate;
    validate.start("desktop-file-validate", {file.fileName()});
    ASSERT_TRUE(validate.waitForFinished(10000)) << "desktop-file-utils is not installed";
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAll().toStdString();
    EXPECT_EQ(validate.readAll(), "");
}

TEST(BatteryCareWindow, TheDialogKeepsWhatTheNextStartReadsAndThePanelShowsEachRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("device-info/device-info.conf");
    auto scripted = std::make_unique<ScriptedLink>();
    ScriptedLink& phone = *scripted;
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({"Android:", std::move(scripted)});
    auto combined = std::make_unique<CombinedLink>(std::move(kinds));
    CombinedLink& link = *combined;
    Form1 window(std::move(combined));
    const QString autostart = dir.filePath("autostart/care.desktop");
    desktop::BatteryCare care(window, link, path, dir.filePath("state.json"),
                              &QDateTime::currentDateTimeUtc, autostart, "/bin/true");
    care.setIntervalMs(20);
    ScriptedLink::scriptPhone(phone);
    phone.see({{"R58M", DeviceKind::Android, "Android", "Pixel Lab 7", ""}}, "R58M");
    phone.raise(Pelorin::EventConnected);
    QTest::qWait(100);
    EXPECT_EQ(phone.batteryReads, 0) << "everything off: nothing read";

    {
        desktop::NotificationsDialog dialog(care, &window);
        EXPECT_EQ(dialog.windowTitle(), "Notifications");
        EXPECT_FALSE(dialog.isModal());
        const auto spin = [&dialog](int at) { return dialog.findChildren<QSpinBox*>().at(at); };
        const auto box = [&dialog](int at) { return dialog.findChildren<QCheckBox*>().at(at); };
        EXPECT_EQ(box(0)->text(), "When charging reaches");
        EXPECT_EQ(box(1)->text(), "When the charge falls to");
        EXPECT_EQ(box(2)->text(), "When the battery is hotter than");
        EXPECT_EQ(spin(0)->value(), 80);
        EXPECT_EQ(spin(1)->value(), 20);
        EXPECT_EQ(spin(2)->value(), 40);
        EXPECT_EQ(dialog.findChild<QComboBox*>()->currentText(), "1 minute");
        box(0)->setChecked(true);
        spin(0)->setValue(85);
        box(2)->setChecked(true);
        dialog.findChild<QComboBox*>()->setCurrentText("5 minutes");

        // The panel is the watcher's: ticked, the watcher starts with the session, and keeps
        // watching while the panel shows; unticked, it stays for the notices still on.
        QCheckBox* keep = box(4);
        QCheckBox* panel = box(5);
        EXPECT_EQ(panel->text(), "Show every battery in the panel");
        panel->setChecked(true);
        EXPECT_TRUE(care::readCareSettings(path).panel);
        EXPECT_TRUE(care.panel());
        EXPECT_TRUE(QFile::exists(autostart));
        EXPECT_TRUE(keep->isChecked() && !keep->isEnabled());
        panel->setChecked(false);
        EXPECT_FALSE(care::readCareSettings(path).panel);
        EXPECT_TRUE(QFile::exists(autostart) && keep->isChecked() && keep->isEnabled());
    }
    {
        // With every notice off, a watcher without the panel would read for nobody.
        const care::Limits before = care.limits();
        care.setLimits({});
        desktop::NotificationsDialog dialog(care, &window);
        QCheckBox* panel = dialog.findChildren<QCheckBox*>().at(5);
        panel->setChecked(true);
        panel->setChecked(false);
        EXPECT_FALSE(QFile::exists(autostart));
        EXPECT_FALSE(dialog.findChildren<QCheckBox*>().at(4)->isChecked());
        care.setLimits(before);
    }
    const care::Limits chosen{85, 0, 40, 300};
    EXPECT_EQ(care::readCareSettings(path).limits, chosen);
    EXPECT_EQ(care.limits(), chosen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return phone.batteryReads >= 3; }, 2000))
        << "read at the interval";

    // A read fills the power panel as a refresh does; one that failed changes nothing.
    DeviceReading battery;
    battery.serial = "R58M";
    battery.power = device::PowerStatus{8, 86.4, 3600, 7200};
    battery.mains = 1;
    phone.battery(battery);
    EXPECT_EQ(window.findChild<QLabel*>("BatteryStatusLabel")->text(), "Charging");
    EXPECT_EQ(window.findChild<QLabel*>("BatteryLifeLabel")->text(), "1 hour ");
    EXPECT_EQ(window.findChild<ProgressBar*>("BatteryLifeBar")->value(), 86.0f);
    EXPECT_EQ(window.findChild<QLabel*>("ACLineStatusLabel")->text(), "Connected");
    DeviceReading failed;
    failed.serial = "R58M";
    failed.error = "no answer within 3 s";
    phone.battery(failed);
    EXPECT_EQ(window.findChild<ProgressBar*>("BatteryLifeBar")->value(), 86.0f);
    EXPECT_EQ(window.findChild<QLabel*>("ACLineStatusLabel")->text(), "Connected");

    // The next start reads it back and waits its five minutes; with the device gone, nothing
    // is read however often it looks.
    care.setIntervalMs(0);
    desktop::BatteryCare again(window, link, path, dir.filePath("state.json"));
    EXPECT_EQ(again.limits(), chosen);
    int reads = phone.batteryReads;
    QTest::qWait(100);
    EXPECT_EQ(phone.batteryReads, reads) << "at the limits' own interval";
    phone.raise(Pelorin::EventRemoved);
    care.setIntervalMs(20);
    reads = phone.batteryReads;
    QTest::qWait(100);
    EXPECT_EQ(phone.batteryReads, reads);
}

} // namespace
