// Measures what keeping Wi-Fi addresses connected costs when none answers, and how soon one
// that comes back is connected:
//   (W) the window (device-info, kept addresses in its device-info.conf) and the exporter
//       (device-info --serve --connect ...), each with 20 addresses that refuse, side by side for
//       a minute: their processor time, in percent of a core;
//   (R) one kept address whose device returns 20 s after it was first tried: when it is
//       connected, against the backoff's next try (tries at 0, 1, 3, 7, 15, 31 s, ...).
//   wifi-bench
#include "adb_harness.h"
#include "bench_support.h"
#include "desktop/wifi.h"
#include "device_link/adb/wifi_keeper.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace bench;

namespace {

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "wifi-bench: %s\n", qPrintable(why));
    std::exit(1);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    AdbHarness harness;
    if (!harness.error().isEmpty())
        fail(harness.error());
    QStringList dead;
    for (int i = 0; i < 20; ++i)
        dead << QStringLiteral("127.0.0.1:%1").arg(freePort());
    QTemporaryDir home;
    if (!desktop::writeWifiAddresses(home.filePath("device-info/device-info.conf"), dead).isEmpty())
        fail(QStringLiteral("cannot write the settings"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
    env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), QStringLiteral("UNIX:/nonexistent"));
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/none"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess window;
    window.setProcessEnvironment(env);
    window.setStandardErrorFile(QProcess::nullDevice());
    window.start(QStringLiteral(DEVICE_INFO_EXE), QStringList{});
    QStringList connects{"--interval", "30"};
    for (const QString& address : dead)
        connects << QStringLiteral("--connect") << address;
    ExporterProcess exporter(QStringLiteral(DEVICE_INFO_EXE), env, connects);
    if (!window.waitForStarted(5000) || !exporter.error().isEmpty())
        fail(QStringLiteral("the window or the exporter did not start"));
    QThread::msleep(5000); // their start-up is behind them
    const double windowBefore = cpuSeconds(window.processId());
    const double exporterBefore = cpuSeconds(exporter.pid());
    const double serverBefore = cpuSeconds(harness.serverPid());
    QThread::msleep(60000);
    const double windowShare = (cpuSeconds(window.processId()) - windowBefore) / 60 * 100;
    const double exporterShare = (cpuSeconds(exporter.pid()) - exporterBefore) / 60 * 100;
    const double serverShare = (cpuSeconds(harness.serverPid()) - serverBefore) / 60 * 100;
    window.terminate();
    window.waitForFinished(10000);
    exporter.stop();

    // A device at an address that refuses, until it listens 20 s on.
    SimulatorProcess* phone = harness.startSimulator(QStringLiteral("current_phone"));
    if (!phone)
        fail(harness.error());
    harness.disconnect(*phone);
    phone->control(QStringLiteral("unplug"));
    WifiKeeper keeper(harness.server());
    QElapsedTimer clock;
    clock.start();
    keeper.keep(phone->serial());
    spinUntil([] { return false; }, 20000);
    phone->control(QStringLiteral("plug"));
    const double plugged = msSince(clock) / 1000;
    if (!spinUntil([&] { return keeper.connected(phone->serial()); }, 60000))
        fail(QStringLiteral("the device that came back was not connected"));
    const double connected = msSince(clock) / 1000;

    std::printf("(W) 20 addresses that refuse, over a minute: the window %.2f%% of a core, the "
                "exporter %.2f%%, the adb server %.2f%% (target < 1%% each)\n",
                windowShare, exporterShare, serverShare);
    std::printf("(R) back at %.1f s: connected at %.1f s, against the backoff's next try at 31 s "
                "(target: within 2 s of it)\n",
                plugged, connected);
    return 0;
}
