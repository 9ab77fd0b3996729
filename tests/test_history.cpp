// The battery history: its file, when a reading is kept, the line that sums it up, the chart
// and the formats a script and a spreadsheet get.
#include "desktop/battery_history.h"
#include "desktop/history_window.h"
#include "device_link/combined_link.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_summary.h"
#include "history/history_writer.h"
#include "qt_printers.h"
#include "report/history_formats.h"
#include "scripted_link.h"

#include <QAction>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QLineSeries>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>

#include <gtest/gtest.h>

namespace {

using history::Record;
using history::Store;

const QDateTime kStart = QDateTime(QDate(2026, 1, 5), QTime(9, 30), Qt::UTC);

Record record(const char* serial, qint64 day, double full, std::optional<qint64> cycles = {}) {
    Record r;
    r.time = kStart.addDays(day);
    r.serial = QString::fromLatin1(serial);
    r.kind = DeviceKind::Apple;
    r.name = QStringLiteral("Ana's iPhone");
    r.model = QStringLiteral("iPhone15,2");
    r.fullMah = full;
    r.designMah = 3279;
    r.cycles = cycles;
    r.temperatureC = 29.5;
    r.percent = 81;
    return r;
}

class HistoryFile : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("device-info/history.sqlite3")); }

    // What SQL says of the file, by a connection of the test's own.
    QString sql(const QString& statement) const {
        QString value;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
            db.setDatabaseName(path());
            db.open();
            QSqlQuery query(db);
            query.exec(statement);
            if (query.next())
                value = query.value(0).toString();
        }
        QSqlDatabase::removeDatabase("test");
        return value;
    }

    // What a store of this file says where it cannot be used.
    std::string refusal(Store::Mode mode) const {
        try {
            Store store(path(), mode);
        } catch (const history::StoreError& e) {
            return e.what();
        }
        return "(no refusal)";
    }

    QTemporaryDir dir;
};

TEST_F(HistoryFile, KeepsRecordsOldestFirstAndForgetsADevice) {
    {
        Store store(path(), Store::Mode::Write);
        store.write({record("B", 2, 2800, 250), record("A", 1, 2850, 212)});
        store.write({record("A", 0, 2900)});
    }
    Store store(path(), Store::Mode::Read);
    const std::vector<Record> a = store.records(QStringLiteral("A"));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0], record("A", 0, 2900));
    EXPECT_EQ(a[1], record("A", 1, 2850, 212));
    EXPECT_EQ(store.records().size(), 3u);
    EXPECT_EQ(store.devices(), (std::vector<history::Device>{
                                   {"A", DeviceKind::Apple, "Ana's iPhone", "iPhone15,2", 2},
                                   {"B", DeviceKind::Apple, "Ana's iPhone", "iPhone15,2", 1}}));
    Store(path(), Store::Mode::Write).forget(QStringLiteral("A"));
    EXPECT_TRUE(store.records(QStringLiteral("A")).empty());
    EXPECT_EQ(store.records().size(), 1u);
    EXPECT_EQ(store.devices().size(), 1u);
    EXPECT_EQ(sql("SELECT count(*) FROM readings"), "1") << "gone from the file, not hidden";
}

TEST_F(HistoryFile, ValuesADeviceDidNotGiveStayNull) {
    Record bare = record("A", 0, 2850);
    bare.cycles.reset();
    bare.temperatureC.reset();
    bare.percent.reset();
    bare.name.clear();
    Store(path(), Store::Mode::Write).write({bare});
    EXPECT_EQ(Store(path(), Store::Mode::Read).records().front(), bare);
}

// Version 0 is a file with nothing in it yet; a file from a newer version is left alone.
TEST_F(HistoryFile, MigratesFromEachEarlierVersionAndLeavesANewerOneAlone) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath("device-info")));
    {
        QFile empty(path());
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    }
    Store(path(), Store::Mode::Write).write({record("A", 0, 2850)});
    EXPECT_EQ(sql("PRAGMA user_version"), "2");
    EXPECT_EQ(sql("PRAGMA journal_mode"), "wal") << "a reader beside a writer";
    EXPECT_EQ(Store(path(), Store::Mode::Read).records().size(), 1u);
    // A file of the first version gains the power, its readings kept.
    sql("ALTER TABLE readings DROP COLUMN power_w");
    sql("PRAGMA user_version = 1");
    Record drained = record("A", 1, 2840);
    drained.powerW = -1.9;
    Store(path(), Store::Mode::Write).write({drained});
    EXPECT_EQ(Store(path(), Store::Mode::Read).records(),
              (std::vector<Record>{record("A", 0, 2850), drained}));

    sql("PRAGMA user_version = 7");
    const std::string newer = (path() + " was written by a newer Device Info").toStdString();
    const qsizetype open = QSqlDatabase::connectionNames().size();
    EXPECT_EQ(refusal(Store::Mode::Write), newer);
    EXPECT_EQ(refusal(Store::Mode::Read), newer);
    EXPECT_EQ(QSqlDatabase::connectionNames().size(), open) << "a store that failed closed its own";
    EXPECT_EQ(sql("PRAGMA user_version"), "7") << "untouched";
    QFile::remove(path());
    EXPECT_EQ(refusal(Store::Mode::Read), "there is no history at " + path().toStdString());
}

TEST_F(HistoryFile, ADamagedFileIsMovedAsideNeverDeleted) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath("device-info")));
    const struct {
        const char* name;
        QByteArray bytes;
    } files[] = {
        {"not SQLite", QByteArray("GIF89a") + QByteArray(5000, 'x')},
        // The header of a database whose pages are gone.
        {"damaged",
         QByteArray("SQLite format 3\0", 16) + QByteArray(84, '\x01') + QByteArray(4000, '\xff')},
    };
    for (const auto& f : files) {
        for (const QString& old : QDir(dir.filePath("device-info")).entryList(QDir::Files))
            QFile::remove(dir.filePath("device-info/" + old));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(f.bytes);
        file.close();
        EXPECT_EQ(refusal(Store::Mode::Read),
                  (path() + " is not a history Device Info can read: it is not SQLite, or is "
                            "damaged")
                      .toStdString())
            << f.name;
        Store store(path(), Store::Mode::Write);
        const QRegularExpression said(
            "^The battery history at " + QRegularExpression::escape(path()) +
            " was damaged: it was moved to " + QRegularExpression::escape(path()) +
            R"(\.corrupt-\d{8}T\d{6}Z, and a new one was started\.$)");
        EXPECT_TRUE(said.match(store.notice()).hasMatch())
            << f.name << store.notice().toStdString();
        store.write({record("A", 0, 2850)});
        EXPECT_EQ(store.records().size(), 1u) << f.name;
        const QStringList aside = QDir(dir.filePath("device-info"))
                                      .entryList({QStringLiteral("history.sqlite3.corrupt-*")});
        ASSERT_EQ(aside.size(), 1) << f.name;
        QFile kept(dir.filePath("device-info/" + aside.first()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), f.bytes) << f.name;
    }
}

// What the history says when it cannot do something, in words that say what.
TEST_F(HistoryFile, SaysWhyItCannot) {
    // A file that had tables, though not ours, and no version: set up, nothing half done.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("device-info")));
    sql("CREATE TABLE devices (x)");
    const std::string setUp = refusal(Store::Mode::Write);
    EXPECT_EQ(setUp.rfind("the history could not be set up (", 0), 0u) << setUp;
    EXPECT_EQ(sql("PRAGMA user_version"), "0");
    EXPECT_EQ(sql("SELECT count(*) FROM sqlite_master WHERE name = 'readings'"), "0");
    QFile::remove(path());

    Store(path(), Store::Mode::Write).write({record("A", 0, 2850)});
    Store reader(path(), Store::Mode::Read);
    sql("ALTER TABLE readings RENAME TO away");
    try {
        reader.records();
        ADD_FAILURE() << "read a table that is not there";
    } catch (const history::StoreError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("the history could not be read (", 0), 0u)
            << e.what();
    }
    sql("ALTER TABLE away RENAME TO readings");

    // A folder where the file should be.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder.sqlite3")));
    try {
        Store(dir.filePath("folder.sqlite3"), Store::Mode::Write);
        ADD_FAILURE() << "opened a folder";
    } catch (const history::StoreError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      (dir.filePath("folder.sqlite3") + " cannot be opened (").toStdString(), 0),
                  0u)
            << e.what();
    }
}

// A window, and another window or a script, at once.
TEST_F(HistoryFile, TwoProcessesWritingAtOnceLoseNothing) {
    QProcess first;
    QProcess second;
    for (QProcess* writer : {&first, &second})
        writer->start(QStringLiteral(HISTORY_WRITER_EXE),
                      {path(), writer == &first ? "A" : "B", "200"});
    for (QProcess* writer : {&first, &second}) {
        ASSERT_TRUE(writer->waitForFinished(50000));
        EXPECT_EQ(writer->exitCode(), 0) << shown(writer->readAllStandardError());
    }
    Store store(path(), Store::Mode::Read);
    EXPECT_EQ(store.records().size(), 400u);
    EXPECT_EQ(store.records(QStringLiteral("A")).size(), 200u);
}

TEST_F(HistoryFile, AFolderThatCannotBeMadeTurnsTheHistoryOffWithOneWord) {
    QFile blocker(dir.filePath("device-info"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder would be
    blocker.close();
    history::Writer writer(path());
    QSignalSpy notices(&writer, &history::Writer::notice);
    for (int i = 0; i < 1002; ++i)
        writer.write(record("A", i, 2850));
    ASSERT_TRUE(writer.flush(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.size(), 2);
    EXPECT_EQ(notices.value(0).value(0).toString(),
              "The battery history is off: " + dir.filePath("device-info") + " cannot be made.");
    EXPECT_EQ(notices.value(1).value(0).toString(),
              "The battery history keeps at most 1000 readings while it cannot write them; the "
              "oldest are let go.");
    // The folder comes: the readings still held are kept with the next one, the newest 1000.
    QFile::remove(dir.filePath("device-info"));
    QSignalSpy written(&writer, &history::Writer::written);
    writer.write(record("A", 1002, 2830));
    ASSERT_TRUE(writer.flush(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(written.count(), 1);
    const std::vector<history::Record> kept = Store(path(), Store::Mode::Read).records();
    ASSERT_EQ(kept.size(), 1000u);
    EXPECT_EQ(kept.front(), record("A", 3, 2850));
}

// A write that fails is said once and kept for the next reading, which takes both.
TEST_F(HistoryFile, AReadingThatCannotBeWrittenIsTriedAgainWithTheNext) {
    Store(path(), Store::Mode::Write).write({record("A", 0, 2900)});
    history::Writer writer(path());
    QSignalSpy notices(&writer, &history::Writer::notice);
    writer.write(record("A", 1, 2890));
    ASSERT_TRUE(writer.flush(5000));
    sql("ALTER TABLE readings RENAME TO away"); // what a full disk would refuse too
    writer.write(record("A", 2, 2880));
    writer.write(record("A", 3, 2870));
    ASSERT_TRUE(writer.flush(5000));
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.count(), 1);
    const QString said = notices.first().first().toString();
    EXPECT_TRUE(said.startsWith("The battery history could not keep a reading (the battery "
                                "history could not be written ("))
        << said.toStdString();
    EXPECT_TRUE(said.endsWith("); it tries again with the next one.")) << said.toStdString();
    sql("ALTER TABLE away RENAME TO readings");
    writer.write(record("A", 4, 2860));
    ASSERT_TRUE(writer.flush(5000));
    EXPECT_EQ(Store(path(), Store::Mode::Read).records().size(), 5u) << "nothing lost";
}

TEST(HistoryRecorder, KeepsTheFirstReadingOfAConnectionThenOneADay) {
    QDateTime now = kStart;
    history::Recorder recorder([&now] { return now; });
    DeviceDetails health;
    health.battery.capacity = device::BatteryCapacity{2850, 3279};
    health.battery.cycles = 212;
    health.system.model = QStringLiteral("iPhone15,2");
    const DeviceDetails none;
    struct Step {
        const char* what;
        qint64 minutesLater;
        const char* serial;
        bool healthKnown;
        bool newConnection;
        bool kept;
    };
    const Step steps[] = {
        {"no health yet", 0, "A", false, false, false},
        {"health known", 1, "A", true, false, true},
        {"an hour on", 60, "A", true, false, false},
        {"a day less a minute", 24 * 60 - 61, "A", true, false, false},
        {"a day on", 1, "A", true, false, true},
        {"another device", 1, "B", true, false, true},
        {"the first again", 1, "A", true, false, true},
        {"plugged in anew", 1, "A", true, true, true},
        {"the same connection", 1, "A", true, false, false},
        {"no device", 1, "", true, false, false},
    };
    for (const Step& s : steps) {
        now = now.addSecs(s.minutesLater * 60);
        if (s.newConnection)
            recorder.newConnection();
        const auto kept = recorder.offer(QString::fromLatin1(s.serial), DeviceKind::Apple,
                                         "Ana's iPhone", s.healthKnown ? health : none);
        EXPECT_EQ(kept.has_value(), s.kept) << s.what;
        if (kept) {
            EXPECT_EQ(kept->time, now) << s.what;
            EXPECT_EQ(kept->model, "iPhone15,2");
            EXPECT_EQ(kept->cycles, 212);
        }
    }
}

TEST(HistoryRecorder, KeepsNoValueABatteryCouldNotHave) {
    DeviceDetails d;
    d.battery.capacity = device::BatteryCapacity{2850, 3279};
    d.battery.cycles = -3;
    d.battery.temperatureC = 180;
    d.battery.percent = 101;
    const auto r = history::recordFrom("A", DeviceKind::Android, "Lab-07", d, kStart);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->cycles || r->temperatureC || r->percent);
    d.battery.cycles = 0;
    d.battery.temperatureC = -40;
    d.battery.percent = 100;
    const auto edge = history::recordFrom("A", DeviceKind::Android, "Lab-07", d, kStart);
    EXPECT_EQ(edge->cycles, 0);
    EXPECT_EQ(edge->temperatureC, -40);
    EXPECT_EQ(edge->percent, 100);
}

TEST(HistorySummary, SaysHowTheBatteryWoreInPlainWords) {
    Record noHealth = record("A", 0, 2850);
    noHealth.fullMah.reset();
    const struct {
        std::vector<Record> records;
        const char* says;
    } cases[] = {
        {{}, "No readings of this device's battery yet."},
        {{noHealth}, "No readings of this device's battery yet."},
        {{record("A", 0, 2850)}, "One reading so far: 87% of its design."},
        // 2,984 and 2,853 of 3,279 mAh: 91% and 87%.
        {{record("A", 0, 2984, 30), noHealth, record("A", 182, 2853, 212)},
         "Lost 4 points of capacity in 6 months (91% → 87%), 212 cycles."},
        {{record("A", 0, 2984), record("A", 3, 2951, 1)},
         "Lost 1 point of capacity in 3 days (91% → 90%), 1 cycle."},
        {{record("A", 0, 2984), record("A", 21, 2984)}, "Kept its capacity over 3 weeks (91%)."},
        {{record("A", 0, 2853), record("A", 800, 2984)},
         "Gained 4 points of capacity in 2 years (87% → 91%)."},
        {{record("A", 0, 2853), record("A", 0, 2850)},
         "Kept its capacity over less than a day (87%)."},
        {{record("A", 0, 2984), record("A", 1, 2984)}, "Kept its capacity over 1 day (91%)."},
        {{record("A", 0, 2984), record("A", 14, 2984)}, "Kept its capacity over 2 weeks (91%)."},
        {{record("A", 0, 2984), record("A", 61, 2984)}, "Kept its capacity over 2 months (91%)."},
        {{record("A", 0, 2984), record("A", 730, 2984)}, "Kept its capacity over 2 years (91%)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(history::summary(c.records), QString::fromUtf8(c.says));
}

// Capacity in percent of a 1,000 mAh design, on each day given.
std::vector<Record> percents(std::initializer_list<std::pair<qint64, double>> days) {
    std::vector<Record> out;
    for (const auto& [day, percent] : days) {
        out.push_back(record("A", day, percent * 10));
        out.back().designMah = 1000;
    }
    return out;
}

TEST(HistoryForecast, SaysWhenTheLineThroughTheReadingsReaches80Percent) {
    Record noHealth = record("A", 30, 0);
    noHealth.fullMah.reset();
    std::vector<Record> gaps = percents({{0, 91}, {91, 89}, {182, 87}});
    gaps.insert(gaps.begin() + 1, noHealth);
    const struct {
        std::vector<Record> records;
        qint64 today; // days after the first reading
        const char* says;
    } cases[] = {
        // 91, 89, 87 over half a year: 80 some 500 days after the first.
        {percents({{0, 91}, {91, 89}, {182, 87}}), 200,
         "At this rate, 80% of its design around May 2027."},
        {gaps, 200, "At this rate, 80% of its design around May 2027."},
        {percents({{0, 91}, {182, 87}}), 200, ""},
        {percents({{0, 91}, {30, 89}, {59, 87}}), 200, ""},
        {percents({{0, 90}, {91, 90}, {182, 90}}), 200, ""},
        {percents({{0, 85}, {91, 86}, {182, 88}}), 200, ""},
        {percents({{0, 90}, {91, 89.99}, {182, 89.98}}), 200, "No end in sight at this rate."},
        // Below it already, since the first of the last run of readings below it.
        {percents({{0, 85}, {61, 79}, {122, 78}}), 200,
         "Below 80% of its design since March 2026."},
        {percents({{0, 79}, {30, 82}, {61, 79.5}, {122, 78}}), 200,
         "Below 80% of its design since March 2026."},
        {percents({{0, 80}, {61, 79.9}, {122, 78}}), 200,
         "Below 80% of its design since March 2026."},
        {percents({{0, 79}, {61, 78}, {122, 77}}), 200,
         "Below 80% of its design since January 2026."},
        // A line past 80 while the last reading is not: this month, never the past.
        {percents({{0, 95}, {61, 81}, {122, 82}}), 400,
         "At this rate, 80% of its design around February 2027."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(history::forecast(c.records, kStart.addDays(c.today)), QString::fromUtf8(c.says))
            << c.records.size() << " readings, the last "
            << c.records.back().capacityPercent().value_or(-1);
}

TEST(HistoryFormats, ForAScriptAndASpreadsheet) {
    Record odd = record("A", 1, 2853, 212);
    odd.name = QStringLiteral("=SUM(A1) \"Ana\"\t2");
    odd.temperatureC.reset();
    odd.powerW = -1.9;
    const std::vector<Record> records{record("A", 0, 2984), odd};
    const QJsonArray json = QJsonDocument::fromJson(report::recordsJson(records)).array();
    ASSERT_EQ(json.size(), 2);
    EXPECT_EQ(
        json[1].toObject(),
        (QJsonObject{{"time", "2026-01-06T09:30:00Z"},
                     {"serial", "A"},
                     {"kind", "ios"},
                     {"name", "=SUM(A1) \"Ana\"\t2"},
                     {"maximumCapacity",
                      QJsonObject{{"percent", 87.01}, {"fullMah", 2853}, {"designMah", 3279}}},
                     {"cycles", 212},
                     {"temperatureC", QJsonValue()},
                     {"percent", 81},
                     {"powerW", -1.9}}));
    EXPECT_TRUE(json[0]["cycles"].isNull());
    EXPECT_EQ(report::recordsTsv(records),
              "time\tserial\tkind\tname\tmaximumCapacityPercent\tfullMah\tdesignMah\tcycles\t"
              "temperatureC\tpercent\tpowerW\n"
              "2026-01-05T09:30:00Z\tA\tios\tAna's iPhone\t91\t2984\t3279\t\t29.5\t81\t\n"
              "2026-01-06T09:30:00Z\tA\tios\t=SUM(A1) \"Ana\"\\t2\t87.01\t2853\t3279\t212\t\t81"
              "\t-1.9\n");
    // Whatever a spreadsheet would take for a formula stays text.
    for (const char* formula : {"=1+1", "+1", "-1", "@SUM(A1)"}) {
        Record r = record("A", 0, 2984);
        r.name = QString::fromLatin1(formula);
        EXPECT_TRUE(report::recordsCsv({r}).contains(",'" + QByteArray(formula) + ",")) << formula;
    }
    // A file another tool wrote may hold a design capacity of 0: no percent, never "inf".
    Record zero = record("A", 0, 2984);
    zero.designMah = 0;
    const QJsonObject zeroJson =
        QJsonDocument::fromJson(report::recordsJson({zero})).array()[0].toObject();
    EXPECT_TRUE(zeroJson["maximumCapacity"].toObject()["percent"].isNull());
    EXPECT_TRUE(report::recordsTsv({zero}).contains("\tAna's iPhone\t\t2984\t0\t"))
        << shown(report::recordsTsv({zero}));
    Record lines = record("A", 0, 2984);
    lines.name = QStringLiteral("two\rlines");
    EXPECT_TRUE(report::recordsCsv({lines}).contains(",\"two\rlines\","));
    EXPECT_TRUE(
        report::recordsCsv(records).endsWith("2026-01-06T09:30:00Z,A,ios,\"'=SUM(A1) "
                                             "\"\"Ana\"\"\t2\",\"iPhone15,2\",87.01,2853,3279,212,,"
                                             "81,-1.9\r\n"))
        << shown(report::recordsCsv(records));
}

class HistoryWindowTest : public HistoryFile {};

TEST_F(HistoryWindowTest, DrawsExactlyTheRecordsOfTheDeviceShownAndForgetsIt) {
    {
        Record draining = record("A", 91, 2920);
        draining.powerW = -1.9;
        Record charging = record("A", 182, 2853, 212);
        charging.powerW = 7.6;
        Store store(path(), Store::Mode::Write);
        store.write(
            {record("A", 0, 2984, 30), draining, charging, record("localhost:5555", 5, 4000, 10)});
    }
    desktop::HistoryWindow window(path(), "A", "Ana's iPhone");
    window.show();
    EXPECT_EQ(window.windowTitle(), "Battery history — Ana's iPhone");
    EXPECT_EQ(window.shownSerial(), "A");
    EXPECT_EQ(window.size(), QSize(720, 460));
    const auto* view = window.findChild<QChartView*>();
    ASSERT_NE(view, nullptr);
    // The forecast's month depends on today's date, not on what this test holds.
    EXPECT_TRUE(view->accessibleDescription().startsWith(
        "Lost 4 points of capacity in 6 months (91% → 87%), 212 cycles. At this rate, 80% of its "
        "design around "))
        << view->accessibleDescription().toStdString();
    const QList<QAbstractSeries*> series = view->chart()->series();
    ASSERT_EQ(series.size(), 2);
    const auto points = [&](int i) { return static_cast<QLineSeries*>(series[i])->points(); };
    const double day = 86400000.0;
    const double t0 = double(kStart.toMSecsSinceEpoch());
    EXPECT_EQ(points(0), (QList<QPointF>{{t0, 2984 * 100.0 / 3279},
                                         {t0 + 91 * day, 2920 * 100.0 / 3279},
                                         {t0 + 182 * day, 2853 * 100.0 / 3279}}));
    EXPECT_EQ(points(1), (QList<QPointF>{{t0, 30}, {t0 + 182 * day, 212}}));
    EXPECT_TRUE(static_cast<QLineSeries*>(series[0])->pointsVisible());
    // Half a day beyond the first and the last reading; months for half a year.
    const auto* time = qobject_cast<QDateTimeAxis*>(view->chart()->axes(Qt::Horizontal).value(0));
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->min(), kStart.addSecs(-43200));
    EXPECT_EQ(time->max(), kStart.addDays(182).addSecs(43200));
    EXPECT_EQ(time->format(), "MMM yyyy");
    const auto axis = [&](Qt::Alignment side) {
        for (QAbstractAxis* a : view->chart()->axes(Qt::Vertical)) {
            if (a->alignment() == side)
                return qobject_cast<QValueAxis*>(a);
        }
        return static_cast<QValueAxis*>(nullptr);
    };
    ASSERT_TRUE(axis(Qt::AlignLeft) && axis(Qt::AlignRight));
    EXPECT_EQ(axis(Qt::AlignLeft)->labelFormat(), "%d%%");
    EXPECT_EQ(axis(Qt::AlignLeft)->min(), 80);
    EXPECT_EQ(axis(Qt::AlignLeft)->max(), 100);
    EXPECT_EQ(axis(Qt::AlignRight)->labelFormat(), "%d");
    EXPECT_EQ(axis(Qt::AlignRight)->min(), 0);
    EXPECT_GE(axis(Qt::AlignRight)->max(), 212);
    // Beside it, the power in its place: either way of 0.
    auto* beside = window.findChildren<QComboBox*>().value(1);
    ASSERT_NE(beside, nullptr);
    beside->setCurrentIndex(1);
    const QList<QAbstractSeries*> power = view->chart()->series();
    ASSERT_EQ(power.size(), 2);
    EXPECT_EQ(power[1]->name(), "Power into the battery (W)");
    EXPECT_EQ(static_cast<QLineSeries*>(power[1])->points(),
              (QList<QPointF>{{t0 + 91 * day, -1.9}, {t0 + 182 * day, 7.6}}));
    ASSERT_TRUE(axis(Qt::AlignRight));
    EXPECT_LE(axis(Qt::AlignRight)->min(), -1.9);
    EXPECT_GE(axis(Qt::AlignRight)->max(), 7.6);
    EXPECT_EQ(axis(Qt::AlignRight)->labelFormat(), "%.1f");

    // Every device of the history is offered, by name and serial.
    auto* devices = window.findChild<QComboBox*>();
    ASSERT_EQ(devices->count(), 2);
    EXPECT_EQ(devices->itemText(1), "Ana's iPhone (localhost:5555)");
    devices->setCurrentIndex(1);
    EXPECT_EQ(static_cast<QLineSeries*>(view->chart()->series()[0])->points().size(), 1);

    // Exported as CSV, to the file the dialog is given; the name offered has no colon.
    const QString csv = dir.filePath("exported.csv");
    QString offered;
    QTimer::singleShot(0, [csv, &offered] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                offered = dialog->selectedFiles().value(0);
                dialog->selectFile(csv);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        }
    });
    const auto click = [&window](const char* text) {
        for (QPushButton* b : window.findChildren<QPushButton*>()) {
            if (b->text().startsWith(QLatin1String(text)))
                return b->click();
        }
        ADD_FAILURE() << "no button " << text;
    };
    click("&Export CSV");
    EXPECT_EQ(offered, QDir::home().filePath("battery-history-localhost_5555.csv"));
    QFile exported(csv);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll(),
              report::recordsCsv(Store(path(), Store::Mode::Read).records("localhost:5555")));
    devices->setCurrentIndex(0);

    // Forgotten after its confirmation.
    QString asked;
    QTimer::singleShot(0, [&asked] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                asked = box->text();
                for (QAbstractButton* b : box->buttons()) {
                    if (b->text() == "Forget")
                        b->click();
                }
            }
        }
    });
    click("&Forget");
    EXPECT_EQ(asked, "Forget the battery history of Ana's iPhone (A)? Its 3 readings are deleted "
                     "from this computer.");
    EXPECT_TRUE(Store(path(), Store::Mode::Read).records("A").empty());
    EXPECT_EQ(Store(path(), Store::Mode::Read).records("localhost:5555").size(), 1u);
    EXPECT_EQ(view->accessibleDescription(), "No readings of this device's battery yet.");
}

// It follows the desktop's theme, dark included, as the main window does.
TEST_F(HistoryWindowTest, FollowsADarkDesktop) {
    Store(path(), Store::Mode::Write).write({record("A", 0, 2984), record("A", 60, 2950)});
    for (const bool dark : {false, true}) {
        QPalette palette;
        palette.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(239, 239, 239));
        QApplication::setPalette(palette);
        desktop::HistoryWindow window(path(), "A", "Ana's iPhone");
        EXPECT_EQ(window.findChild<QChartView*>()->chart()->theme(),
                  dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
        // Two months of readings still read in days; more, in months.
        EXPECT_EQ(qobject_cast<QDateTimeAxis*>(
                      window.findChild<QChartView*>()->chart()->axes(Qt::Horizontal).value(0))
                      ->format(),
                  "d MMM");
    }
    QApplication::setPalette(QPalette());
}

// A history it cannot read, or a file it cannot write, is said in a message; the window stays.
TEST_F(HistoryWindowTest, SaysWhatItCannotDo) {
    Store(path(), Store::Mode::Write).write({record("A", 0, 2984)});
    desktop::HistoryWindow window(path(), "A", "Ana's iPhone");
    window.show();
    QTimer::singleShot(0, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                dialog->selectFile(dir.filePath("no/such/folder/x.csv"));
                QMetaObject::invokeMethod(dialog, "accept");
            }
        }
    });
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->text().startsWith("&Export"))
            b->click();
    }
    const auto said = [&window] {
        QStringList out;
        for (const QMessageBox* box : window.findChildren<QMessageBox*>())
            out << box->text();
        return out;
    };
    ASSERT_EQ(said().size(), 1);
    EXPECT_TRUE(said().first().startsWith("The CSV file could not be written: "))
        << said().first().toStdString();

    // Asked to forget its one reading, and cancelled: it stays.
    QString asked;
    QTimer::singleShot(0, [&asked] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            box->button(QMessageBox::Cancel)->click();
        }
    });
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->text().startsWith("&Forget"))
            b->click();
    }
    EXPECT_EQ(asked, "Forget the battery history of Ana's iPhone (A)? Its one reading is deleted "
                     "from this computer.");
    EXPECT_EQ(Store(path(), Store::Mode::Read).records().size(), 1u);

    QFile broken(path());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(QByteArray(4096, 'x'));
    broken.close();
    desktop::HistoryWindow unreadable(path(), "A", "Ana's iPhone");
    ASSERT_EQ(unreadable.findChildren<QMessageBox*>().size(), 1);
    EXPECT_EQ(unreadable.findChild<QMessageBox*>()->text(),
              "The battery history cannot be read: " + path() +
                  " is not a history Device Info can read: it is not SQLite, or is damaged");
    EXPECT_EQ(unreadable.windowTitle(), "Battery history — Ana's iPhone");
    EXPECT_EQ(unreadable.findChild<QChartView*>()->accessibleDescription(),
              "No readings of this device's battery yet.");
}

// The window's link, scripted: which readings it keeps, and that each gone code ends a
// connection.
TEST_F(HistoryFile, TheWindowKeepsAReadingAConnectionOfEitherKind) {
    auto android = std::make_unique<ScriptedLink>();
    auto apple = std::make_unique<ScriptedLink>();
    ScriptedLink& a = *android;
    ScriptedLink& i = *apple;
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({"Android:", std::move(android)});
    kinds.push_back({"iPhone and iPad:", std::move(apple)});
    CombinedLink link(std::move(kinds));
    QWidget window;
    history::Writer writer(path());
    history::Recorder recorder;
    desktop::installHistory(window, link, writer, recorder, path());
    DeviceDetails health;
    health.battery.capacity = device::BatteryCapacity{2850, 3279};
    const auto kept = [&] {
        writer.flush(5000);
        return Store(path(), Store::Mode::Read).records();
    };

    i.see({{"00008110-001A", DeviceKind::Apple, "iPad", "Kitchen iPad", ""}}, "00008110-001A");
    i.raise(Pelorin::EventConnected);
    i.tell(health);
    ASSERT_EQ(kept().size(), 1u);
    EXPECT_EQ(kept().back().kind, DeviceKind::Apple);
    EXPECT_EQ(kept().back().name, "Kitchen iPad");
    // Each way a device goes ends its connection: it comes back a new one.
    for (const qint32 gone :
         {Pelorin::EventRemoved, Pelorin::EventOffline, Pelorin::EventServerLost}) {
        const std::size_t before = kept().size();
        i.tell({});
        i.raise(gone);
        i.raise(Pelorin::EventConnected);
        i.tell(health);
        EXPECT_EQ(kept().size(), before + 1) << gone;
    }
    i.raise(Pelorin::EventRemoved);
    a.see({{"R58M", DeviceKind::Android, "Android", "Lab-07", ""}}, "R58M");
    a.raise(Pelorin::EventConnected);
    a.tell(health);
    EXPECT_EQ(kept().back().kind, DeviceKind::Android);
    EXPECT_EQ(kept().back().serial, "R58M");
    const QList<QAction*> actions = window.actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions.first()->text(), "Battery history…");
}

} // namespace
