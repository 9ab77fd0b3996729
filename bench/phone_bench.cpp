// Measures the window against a simulated phone whose commands cost what they cost on a device
// (tools/device_sim/profiles/slow_phone.json), behind Debian's adb server, in one run:
//   (R) the median time of a press of Refresh;
//   (S) the median time of the slowest single command of a refresh, by raw exchanges with the
//       adb server, not through the link;
//   (C) the longest stretch the window's thread is blocked while a device connects and the
//       window fills in, seen by a 1 ms heartbeat timer on that thread.
//   phone-bench [REPETITIONS] [CONNECTIONS]
#include "adb_harness.h"
#include "bench_support.h"
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_link.h"
#include "device_link/adb/adb_transport.h"
#include "display/form1.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace bench;

int main(int argc, char* argv[]) {
    const auto [repetitions, connections] = countsFrom(argc, argv, {40, 10});
    QApplication app(argc, argv);

    AdbHarness harness;
    SimulatorProcess* phone =
        harness.error().isEmpty() ? harness.startSimulator(QStringLiteral("slow_phone")) : nullptr;
    if (!phone) {
        std::fprintf(stderr, "phone-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    auto owned = std::make_unique<AdbLink>(harness.socketSpec());
    owned->setMayStartServer(false);
    Form1 form(std::move(owned));
    form.show();
    const auto* address = form.findChild<QLabel*>(QStringLiteral("IPAddrLabel"));
    const auto* pictureOff = form.findChild<QWidget*>(QStringLiteral("DisconnectedPicture"));
    if (!spinUntil([&] { return !address->text().isEmpty(); })) {
        std::fprintf(stderr, "phone-bench: the window showed no device\n");
        return 1;
    }

    // (R) a press of Refresh
    const std::vector<double> presses =
        timePresses(repetitions, [&form] { form.RefreshCommand_Click(); });

    // (S) the slowest of a refresh's commands, each a raw exchange with the server
    std::vector<double> slowest;
    for (int i = 0; i < repetitions; ++i) {
        double longest = 0;
        for (const QByteArray& command : adb::command::RefreshSet) {
            QElapsedTimer clock;
            clock.start();
            adb::runDeviceCommand(harness.server(), phone->serial(), command, {});
            longest = std::max(longest, msSince(clock));
        }
        slowest.push_back(longest);
    }

    // (C) the phone leaves and comes back; the server is asked from another thread so that
    // only the window's own work shows in the heartbeat
    std::vector<double> blocked;
    Heartbeat heartbeat;
    for (int i = 0; i < connections; ++i) {
        harness.disconnect(*phone);
        if (!spinUntil([&] { return !pictureOff->isHidden() && address->text().isEmpty(); })) {
            std::fprintf(stderr, "phone-bench: the window did not see the phone go\n");
            return 1;
        }
        heartbeat.start();
        std::thread reconnect([&] { harness.connect(*phone); });
        const bool filled = spinUntil([&] { return !address->text().isEmpty(); });
        blocked.push_back(heartbeat.stop());
        reconnect.join();
        if (!filled) {
            std::fprintf(stderr, "phone-bench: the window did not fill in again\n");
            return 1;
        }
    }

    const double r = median(presses);
    const double s = median(slowest);
    std::printf("press of Refresh (R), median of %d:           %8.2f ms\n", repetitions, r);
    std::printf("slowest single command (S), median of %d:     %8.2f ms\n", repetitions, s);
    std::printf("window thread blocked while connecting (C): %8.2f ms longest of %d "
                "(median %.2f ms)\n",
                *std::max_element(blocked.begin(), blocked.end()), connections, median(blocked));
    std::printf("R/S = %.2f (target <= 1.3)   C target <= 16 ms\n", r / s);
    return 0;
}
