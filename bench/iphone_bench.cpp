// Measures the window against a simulated iPhone whose lockdownd takes what a device takes over
// each request (tools/device_sim/profiles/slow_iphone.json), through the real libimobiledevice,
// in one run:
//   (R) the median time of a press of Refresh;
//   (S) the median time of one raw GetValue of a whole domain through the library, on a
//       session already open;
//   (C) the longest stretch the window's thread is blocked while the iPhone connects and the
//       window fills in, seen by a 1 ms heartbeat timer on that thread;
//   (I) the median time of "ideviceinfo -q DOMAIN" for each domain a refresh reads, one after
//       another, as a user would script it (and with "idevicediagnostics ioregentry" for the
//       battery's registry, which a refresh reads too).
//   iphone-bench [REPETITIONS] [CONNECTIONS]
#include "adb_harness.h"
#include "bench_support.h"
#include "device_link/ios/ios_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <cstdio>

using namespace bench;

namespace {

int requestsSoFar(SimulatorProcess& phone) {
    const QJsonObject counts = QJsonDocument::fromJson(phone.control("count").toUtf8()).object();
    int total = 0;
    for (const QJsonValue& count : counts)
        total += count.toInt();
    return total;
}

} // namespace

int main(int argc, char* argv[]) {
    const auto [repetitions, connections] = countsFrom(argc, argv, {20, 10});
    QApplication app(argc, argv);

    AdbHarness harness;
    SimulatorProcess* phone = harness.startIphone(QStringLiteral("slow_iphone"));
    if (!phone) {
        std::fprintf(stderr, "iphone-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    Form1 form(std::make_unique<IosLink>());
    form.show();
    const QString title = QStringLiteral("Device Info (Ana's iPhone)");
    if (!spinUntil([&] { return form.windowTitle() == title; })) {
        std::fprintf(stderr, "iphone-bench: the window showed no iPhone\n");
        return 1;
    }

    // (R) a press of Refresh
    const int before = requestsSoFar(*phone);
    const std::vector<double> presses =
        timePresses(repetitions, [&form] { form.RefreshCommand_Click(); });
    QTest::qWait(200); // the last sessions close after their values are in
    const double requestsPerPress = double(requestsSoFar(*phone) - before) / repetitions;

    // (S) one GetValue of a whole domain, on a session opened once
    std::vector<double> getValues;
    {
        idevice_t device = nullptr;
        lockdownd_client_t client = nullptr;
        const QByteArray udid = QByteArrayLiteral("00008110-001A2B3C4D5E801E");
        if (idevice_new_with_options(&device, udid.constData(), IDEVICE_LOOKUP_USBMUX) !=
                IDEVICE_E_SUCCESS ||
            lockdownd_client_new_with_handshake(device, &client, "iphone-bench") !=
                LOCKDOWN_E_SUCCESS) {
            std::fprintf(stderr, "iphone-bench: no session with the iPhone\n");
            return 1;
        }
        for (int i = 0; i < repetitions; ++i) {
            plist_t value = nullptr;
            QElapsedTimer clock;
            clock.start();
            lockdownd_get_value(client, "com.apple.mobile.battery", nullptr, &value);
            getValues.push_back(msSince(clock));
            plist_free(value);
        }
        lockdownd_client_free(client);
        idevice_free(device);
    }

    // (I) the command-line way, one tool run after another
    const QString ideviceinfo = QStringLiteral("ideviceinfo");
    QList<QStringList> domains{{ideviceinfo}};
    for (const char* domain :
         {"com.apple.mobile.battery", "com.apple.disk_usage", "com.apple.mobile.iTunes"})
        domains.append({ideviceinfo, QStringLiteral("-q"), QString::fromLatin1(domain)});
    QList<QStringList> withRegistry = domains;
    withRegistry.append({QStringLiteral("idevicediagnostics"), QStringLiteral("ioregentry"),
                         QStringLiteral("AppleSmartBattery")});
    std::vector<double> tools, toolsWithRegistry;
    for (int i = 0; i < std::max(3, repetitions / 4); ++i) {
        tools.push_back(runTools(domains));
        toolsWithRegistry.push_back(runTools(withRegistry));
    }
    if (*std::min_element(tools.begin(), tools.end()) < 0) {
        std::fprintf(stderr, "iphone-bench: ideviceinfo failed (libimobiledevice-utils?)\n");
        return 1;
    }

    // (C) the iPhone is unplugged and plugged in again
    std::vector<double> blocked;
    Heartbeat heartbeat;
    const auto* pictureOff = form.findChild<QWidget*>(QStringLiteral("DisconnectedPicture"));
    for (int i = 0; i < connections; ++i) {
        phone->control(QStringLiteral("unplug"));
        if (!spinUntil([&] { return !pictureOff->isHidden(); })) {
            std::fprintf(stderr, "iphone-bench: the window did not see the iPhone go\n");
            return 1;
        }
        phone->control(QStringLiteral("plug"));
        heartbeat.start();
        const bool filled = spinUntil([&] { return form.windowTitle() == title; });
        blocked.push_back(heartbeat.stop());
        if (!filled) {
            std::fprintf(stderr, "iphone-bench: the window did not fill in again\n");
            return 1;
        }
    }

    const double r = median(presses);
    const double s = median(getValues);
    const double i = median(tools);
    std::printf("press of Refresh (R), median of %d:              %8.2f ms\n", repetitions, r);
    std::printf("  lockdownd and diagnostics requests per press:  %8.1f\n", requestsPerPress);
    std::printf("one GetValue of a whole domain (S), median of %d: %8.2f ms\n", repetitions, s);
    std::printf("ideviceinfo for each domain (I), median:         %8.2f ms\n", i);
    std::printf("  and idevicediagnostics for the registry:       %8.2f ms\n",
                median(toolsWithRegistry));
    std::printf("window thread blocked while connecting (C):    %8.2f ms longest of %d "
                "(median %.2f ms)\n",
                *std::max_element(blocked.begin(), blocked.end()), connections, median(blocked));
    std::printf("R/S = %.2f   I/R = %.2f (target >= 3)   C target <= 16 ms\n", r / s, i / r);
    return 0;
}
