// Measures the battery history at the size of years of use: 50 devices with a record a day for
// 10 years (182,500 records) in a history file of its own, on this machine:
//   (F) the file's size (target below 30 MB);
//   (W) opening the Battery history window and drawing one device (target at most 200 ms);
//   (J) "device-info --history --json --serial ONE", the whole program, median;
//   (T) one record written on the window's thread, and handed to the writer's thread;
//   (C) the longest stretch the window's thread is blocked while a simulated phone connects and
//       its record is written (target at most 16 ms).
//   history-bench [CONNECTIONS]
#include "adb_harness.h"
#include "bench_support.h"
#include "desktop/battery_history.h"
#include "desktop/history_window.h"
#include "device_link/adb/adb_link.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

namespace {

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "history-bench: %s\n", qPrintable(why));
    std::exit(1);
}

history::Record day(int device, int n) {
    history::Record r;
    r.time = QDateTime(QDate(2016, 1, 1), QTime(9, 0), Qt::UTC).addDays(n);
    r.serial = QStringLiteral("R58M%1").arg(device, 6, 10, QLatin1Char('0'));
    r.kind = device % 4 == 0 ? DeviceKind::Apple : DeviceKind::Android;
    r.name = QStringLiteral("Lab phone %1").arg(device);
    r.model = QStringLiteral("lynx");
    r.designMah = 4385;
    r.fullMah = 4385 * (1.0 - 0.25 * n / 3650.0);
    r.cycles = n / 2;
    r.temperatureC = 25 + n % 10;
    r.percent = 20 + n % 80;
    return r;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int connections = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("device-info/history.sqlite3"));
    {
        history::Store store(path, history::Store::Mode::Write);
        for (int device = 0; device < 50; ++device) {
            std::vector<history::Record> records;
            for (int n = 0; n < 3650; ++n)
                records.push_back(day(device, n));
            store.write(records);
        }
    }
    const double megabytes = double(QFileInfo(path).size() + QFileInfo(path + "-wal").size()) / 1e6;

    std::vector<double> windows;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        desktop::HistoryWindow window(path, day(7, 0).serial, QString());
        window.show();
        window.grab(); // drawn, chart included
        windows.push_back(msSince(clock));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    env.remove(QStringLiteral("DISPLAY"));
    std::vector<double> scripts;
    for (int i = 0; i < 5; ++i) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(DEVICE_INFO_EXE),
                      {"--history", "--json", "--serial", day(7, 0).serial});
        if (!program.waitForFinished(30000) || program.exitCode() != 0)
            fail(QStringLiteral("--history failed"));
        scripts.push_back(msSince(clock));
    }

    std::vector<double> onThread;
    std::vector<double> handedOver;
    {
        history::Store store(path, history::Store::Mode::Write);
        history::Writer writer(path);
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer clock;
            clock.start();
            store.write({day(60, i)});
            onThread.push_back(msSince(clock));
            clock.restart();
            writer.write(day(61, i));
            handedOver.push_back(msSince(clock));
            writer.flush(10000);
        }
    }

    // A phone connecting again and again, its record written each time.
    AdbHarness harness;
    if (!harness.error().isEmpty())
        fail(harness.error());
    SimulatorProcess* phone = harness.startSimulator(QStringLiteral("slow_phone"));
    if (!phone)
        fail(harness.error());
    std::vector<CombinedLink::Kind> kinds;
    auto adb = std::make_unique<AdbLink>(harness.socketSpec());
    adb->setMayStartServer(false);
    kinds.push_back({QStringLiteral("Android:"), std::move(adb)});
    auto owned = std::make_unique<CombinedLink>(std::move(kinds));
    CombinedLink& link = *owned;
    Form1 form(std::move(owned));
    form.show();
    history::Writer writer(path);
    int written = 0;
    QObject::connect(&writer, &history::Writer::written,
                     [&written](int total) { written = total; });
    history::Recorder recorder;
    desktop::installHistory(form, link, writer, recorder, path);
    harness.disconnect(*phone);
    Heartbeat heartbeat;
    std::vector<double> blocks;
    for (int i = 0; i < connections; ++i) {
        const auto connected = [&] {
            return !form.findChild<QLabel*>(QStringLiteral("MemoryLabel"))->text().isEmpty();
        };
        if (!spinUntil([&] { return !connected(); }))
            fail(QStringLiteral("the window did not clear"));
        heartbeat.start();
        if (!harness.connect(*phone) || !spinUntil([&] { return written == i + 1; }))
            fail(QStringLiteral("the connection's record was not written"));
        blocks.push_back(heartbeat.stop());
        harness.disconnect(*phone);
    }

    std::printf("the file (F): 182,500 records in %.1f MB (target below 30 MB)\n", megabytes);
    std::printf("Battery history window, opened and drawn with one device's 3,650 records (W), "
                "median of 5: %.1f ms (target <= 200 ms)\n",
                median(windows));
    std::printf("device-info --history --json for one device (J), median of 5: %.1f ms\n",
                median(scripts));
    std::printf("one record (T), median of 20: written on the window's thread %.2f ms; handed to "
                "the writer's thread %.3f ms\n",
                median(onThread), median(handedOver));
    std::printf("longest block of the window's thread while a phone connects and its record is "
                "written (C), over %d connections: %.1f ms, median %.1f ms (target <= 16 ms)\n",
                connections, *std::max_element(blocks.begin(), blocks.end()), median(blocks));
    return 0;
}
