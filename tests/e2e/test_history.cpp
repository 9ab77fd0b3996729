// The battery history as the app keeps it: the window on a link to a simulated phone writes a
// record a connection, a history that cannot be kept leaves the window working, and --history
// prints the records for a script.
#include "e2e_fixture.h"

#include "desktop/battery_history.h"
#include "desktop/history_window.h"
#include "device_link/combined_link.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"

#include <QAction>
#include <QJsonArray>
#include <QProcess>

namespace {

class HistoryEndToEnd : public EndToEnd {
protected:
    std::vector<history::Record> records(const QString& path) {
        writer->flush(5000);
        try {
            return history::Store(path, history::Store::Mode::Read).records();
        } catch (const history::StoreError&) {
            return {};
        }
    }

    void TearDown() override {
        form.reset();
        writer.reset();
    }

    QTemporaryDir dir;
};

// A phone's learned capacity changed between two connections: two records, in order.
TEST_F(HistoryEndToEnd, EachConnectionOfAPhoneKeepsARecord) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    const QString path = dir.filePath("device-info/history.sqlite3");
    openKeeping(path);
    ASSERT_TRUE(waitUntil([&] { return records(path).size() == 1; }));
    ASSERT_EQ(phone->control("set battery.learned 3900"), "ok");
    refresh()->click();
    QTest::qWait(300);
    EXPECT_EQ(records(path).size(), 1u) << "a refresh within the day keeps nothing more";
    ASSERT_TRUE(harness.disconnect(*phone));
    ASSERT_TRUE(waitUntil([&] { return !connectedLook(); }));
    ASSERT_TRUE(harness.connect(*phone));
    ASSERT_TRUE(waitUntil([&] { return records(path).size() == 2; }));
    const std::vector<history::Record> kept = records(path);
    EXPECT_EQ(kept[0].fullMah, 4012);
    EXPECT_EQ(kept[1].fullMah, 3900);
    EXPECT_EQ(kept[1].designMah, 4385);
    EXPECT_LE(kept[0].time, kept[1].time);
    EXPECT_EQ(kept[1].serial, phone->serial());
    EXPECT_EQ(kept[1].kind, DeviceKind::Android);
    EXPECT_EQ(kept[1].name, "Lab-07");
    EXPECT_EQ(kept[1].model, "lynx");
    EXPECT_EQ(kept[1].temperatureC, 28.6);
    EXPECT_EQ(kept[1].percent, 76);
    EXPECT_FALSE(kept[1].cycles.has_value()) << "Android's shell counts no cycles";
    EXPECT_EQ(failures->count(), 0);

    // Battery history... in the context menu opens its window on the device shown.
    QAction* open = nullptr;
    for (QAction* action : form->actions()) {
        if (action->text() == "Battery history…")
            open = action;
    }
    ASSERT_NE(open, nullptr);
    open->trigger();
    auto* window = form->findChild<desktop::HistoryWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->windowTitle(), "Battery history — Lab-07");
    EXPECT_EQ(window->shownSerial(), phone->serial());
    window->close();
}

TEST_F(HistoryEndToEnd, AHistoryThatCannotBeKeptLeavesTheWindowWorking) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    QFile blocker(dir.filePath("device-info"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where its folder would be
    blocker.close();
    CapturedStderr said;
    openKeeping(dir.filePath("device-info/history.sqlite3"));
    const auto tip = [this] { return form->findChild<QWidget*>("Frame2")->toolTip(); };
    EXPECT_TRUE(waitUntil([&] { return tip().contains("The battery history is off: "); }))
        << tip().toStdString();
    EXPECT_TRUE(tip().contains("Connected to Pixel 7a")) << tip().toStdString();
    EXPECT_EQ(text("MemoryLabel"), "8,156,930,048 bytes");
    refresh()->click();
    EXPECT_EQ(failures->count(), 0);
    EXPECT_EQ(said.lines().filter("The battery history is off").size(), 1) << "said once";
}

// --history through the program, with no display.
TEST_F(HistoryEndToEnd, HistoryPrintsTheRecordsForAScript) {
    const QString path = dir.filePath("device-info/history.sqlite3");
    const auto run = [&](const QStringList& arguments, int* status) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("XDG_DATA_HOME", dir.path());
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(DEVICE_INFO_EXE), arguments);
        program.waitForFinished(10000);
        *status = program.exitCode();
        return std::pair{program.readAllStandardOutput(), program.readAllStandardError()};
    };
    int status = -1;
    // Nothing kept yet: nothing to print, and no file made for it.
    EXPECT_EQ(run({"--history", "--json"}, &status).first.trimmed(), "[\n]");
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(QFile::exists(path));

    history::Record r;
    r.time = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    r.serial = "R58M";
    r.kind = DeviceKind::Android;
    r.name = "Lab-07";
    r.fullMah = 4012;
    r.designMah = 4385;
    r.temperatureC = 28.6;
    history::Record other = r;
    other.serial = "00008110-001A";
    other.kind = DeviceKind::Apple;
    other.name.clear();
    other.cycles = 212;
    other.percent = 81;
    other.powerW = 7.6;
    history::Store(path, history::Store::Mode::Write).write({r, other});

    const auto [json, jsonErr] = run({"--history", "--json", "--serial", "00008110-001A"}, &status);
    EXPECT_EQ(status, 0) << jsonErr.toStdString();
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    ASSERT_EQ(array.size(), 1) << shown(json);
    const QJsonObject one = array[0].toObject();
    EXPECT_EQ(one.keys(), (QStringList{"cycles", "kind", "maximumCapacity", "name", "percent",
                                       "powerW", "serial", "temperatureC", "time"}));
    EXPECT_EQ(one["time"], "2026-03-01T12:00:00Z");
    EXPECT_EQ(one["serial"], "00008110-001A");
    EXPECT_EQ(one["kind"], "ios");
    EXPECT_TRUE(one["name"].isNull());
    EXPECT_EQ(one["maximumCapacity"].toObject(),
              (QJsonObject{{"percent", 91.49}, {"fullMah", 4012}, {"designMah", 4385}}));
    EXPECT_EQ(one["cycles"], 212);
    EXPECT_EQ(one["temperatureC"], 28.6);
    EXPECT_EQ(one["percent"], 81);
    EXPECT_EQ(one["powerW"], 7.6);

    const auto [tsv, tsvErr] = run({"--history"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tsv.count('\n'), 3) << "a header and two records";
    EXPECT_TRUE(tsv.contains("\n2026-03-01T12:00:00Z\tR58M\tandroid\tLab-07\t91.49\t4012\t4385\t\t"
                             "28.6\t\t\n"))
        << shown(tsv);

    // A file that is not a history: why, and 1.
    QFile broken(path);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(QByteArray(4096, 'x'));
    broken.close();
    QFile::remove(path + "-wal");
    QFile::remove(path + "-shm");
    const auto [none, why] = run({"--history"}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(none, QByteArray());
    EXPECT_TRUE(why.startsWith("device-info: " + path.toUtf8() + " is not a history"))
        << why.toStdString();
}

} // namespace
