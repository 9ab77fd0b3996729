// Measures a full refresh through AdbLink against a simulated phone behind Debian's adb server,
// beside what a user would script by hand (adb shell per command) and six no-op round trips one
// after another through the same server (what the refresh's six commands would cost in turn
// with nothing to do). Prints medians and the ratios b/a and a/c.
//   refresh-bench [REPETITIONS]
#include "adb_harness.h"
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_link.h"
#include "device_link/adb/adb_transport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int repetitions, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        samples.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 40;

    AdbHarness harness;
    SimulatorProcess* phone = harness.error().isEmpty()
                                  ? harness.startSimulator(QStringLiteral("current_phone"))
                                  : nullptr;
    if (!phone) {
        std::fprintf(stderr, "refresh-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    AdbLink link(harness.socketSpec());
    link.setMayStartServer(false);
    const QDeadlineTimer ready(10000);
    while (link.followedSerial().isEmpty() && !ready.hasExpired())
        QTest::qWait(20);
    if (link.followedSerial().isEmpty()) {
        std::fprintf(stderr, "refresh-bench: the link found no device\n");
        return 1;
    }

    // (a) the eight queries of the refresh sequence (six commands, side by side)
    const double a = medianMs(repetitions, [&] {
        DeviceValue v1, v2, v3, v4;
        link.ReadRegistryValue(2, QStringLiteral("IDENT"), QStringLiteral("name"));
        link.GetMemoryStatus(v1, v2);
        link.GetStorageStatus(v1, v2);
        link.ProcessorType();
        link.GetPowerStatus(v1, v2, v3, v4);
        link.ACLineStatus();
        link.GetSystemMetric(0);
        link.GetSystemMetric(1);
    });

    // (b) the refresh's six commands as adb shell processes
    const std::vector<QByteArray>& commands = adb::command::RefreshSet;
    const QString port = QString::number(harness.port());
    const double b = medianMs(std::max(3, repetitions / 4), [&] {
        for (const QByteArray& command : commands) {
            QProcess adb;
            adb.start(QStringLiteral("adb"),
                      {QStringLiteral("-P"), port, QStringLiteral("-s"), phone->serial(),
                       QStringLiteral("shell"), QString::fromUtf8(command)});
            adb.waitForFinished(10000);
        }
    });

    // (c) six no-op round trips, one after another
    const double c = medianMs(repetitions, [&] {
        for (std::size_t i = 0; i < commands.size(); ++i)
            adb::runDeviceCommand(harness.server(), phone->serial(), "true", {});
    });

    std::printf("refresh through AdbLink (a):      %8.2f ms\n", a);
    std::printf("six adb shell processes (b):      %8.2f ms\n", b);
    std::printf("six no-op round trips (c):        %8.2f ms\n", c);
    std::printf("b/a = %.2f (target >= 5)   a/c = %.2f (target <= 1.5)\n", b / a, a / c);
    return 0;
}
