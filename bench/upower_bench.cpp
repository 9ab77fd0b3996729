// Measures the batteries UPower knows at a lab's scale: 50 simulated headsets on python3-dbusmock's
// UPower, on a private bus standing for the system bus.
//   (R) a round's share of them: listing all 50 and reading each, as the exporter's round does,
//       against a round of one simulated phone alone (the slow profile);
//   (P) the exporter's processor time a round with the 50, against one with the phone alone
//       (user and system time, in clock ticks of 10 ms, over 10 rounds);
//   (B) the window's longest block (the longest gap between ticks of a 1 ms timer on its
//       thread) while all 50 change their charge at once;
//   (M) the exporter's peak resident memory with 50 against 5.
//   upower-bench
#include "adb_harness.h"
#include "bench_support.h"
#include "device_link/survey.h"
#include "device_link/upower/upower_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

using namespace bench;

namespace {

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "upower-bench: %s\n", qPrintable(why));
    std::exit(1);
}

// peripherals.py with COUNT headsets; its bus is the system bus of what starts after.
class Peripherals {
public:
    explicit Peripherals(int count) {
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments(
            {QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tools/device_sim/peripherals.py"),
             QString::number(count)});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Told to end, and so to stop its bus, when this ends without a word.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start();
        if (!m_process.waitForReadyRead(20000))
            fail(QStringLiteral("the simulated UPower did not start"));
        address = m_process.readLine().trimmed().mid(qsizetype(sizeof "DBUS_SYSTEM_BUS_ADDRESS"));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    }
    ~Peripherals() {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    // Every headset's charge changed at once; returns once they all were.
    void changeAll() {
        ::kill(pid_t(m_process.processId()), SIGUSR1);
        if (!m_process.waitForReadyRead(20000))
            fail(QStringLiteral("the simulated UPower did not change its devices"));
        m_process.readAll();
    }
    QByteArray address;

private:
    QProcess m_process;
};

// A round of the exporter, as far as the devices of KIND go: listing, then reading each of
// them; the median of RUNS.
double roundMs(const adb::ServerAddress& server, DeviceKind kind, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        const survey::Listing listing = survey::list(server, false);
        std::vector<survey::ListedDevice> targets;
        std::copy_if(listing.devices.begin(), listing.devices.end(), std::back_inserter(targets),
                     [kind](const survey::ListedDevice& d) { return d.kind == kind; });
        survey::readAll(server, listing, targets, false);
        times.push_back(msSince(clock));
    }
    return median(times);
}

// The exporter's processor time a round, over 10 rounds of a second each, and its peak memory,
// once it serves DEVICES devices.
std::pair<double, long> exporterCost(AdbHarness& harness, const QByteArray& bus, int devices) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromUtf8(bus));
    ExporterProcess exporter(QStringLiteral(DEVICE_INFO_EXE), env, {"--interval", "1"});
    if (!exporter.error().isEmpty())
        fail(exporter.error());
    if (!spinUntil([&] { return exporter.metrics().count("device_info_up{") == devices; }))
        fail(QStringLiteral("the exporter does not serve %1 devices").arg(devices));
    QThread::msleep(2000);
    const double before = cpuSeconds(exporter.pid());
    QThread::msleep(10000);
    const double perRound = (cpuSeconds(exporter.pid()) - before) / 10;
    const long peak = statusKiB(exporter.pid(), "VmHWM:");
    exporter.stop();
    return {perRound * 1000, peak};
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/nonexistent/usbmuxd");
    QApplication app(argc, argv);
    AdbHarness harness;
    if (!harness.error().isEmpty())
        fail(harness.error());

    // The process keeps the first system bus it connects to: the 50's, once the 5's is done.
    long peak5 = 0;
    {
        Peripherals five(5);
        peak5 = exporterCost(harness, five.address, 5).second;
    }
    Peripherals fifty(50);
    SimulatorProcess* phone = harness.startSimulator(QStringLiteral("slow_phone"));
    if (!phone)
        fail(harness.error());
    survey::list(harness.server(), false); // the health dump of its first read is behind it
    const double phoneRound = roundMs(harness.server(), DeviceKind::Android, 10);
    const auto [phoneCpu, phonePeak] = exporterCost(harness, "unix:path=/nonexistent/bus", 1);
    harness.disconnect(*phone);
    phone->kill();
    const double upowerRound = roundMs(harness.server(), DeviceKind::UPower, 10);
    const auto [upowerCpu, peak50] = exporterCost(harness, fifty.address, 50);

    // The same with nothing of this process listening: what the burst costs the computer.
    const auto longestBlocks = [&] {
        std::vector<double> blocks;
        for (int i = 0; i < 5; ++i) {
            Heartbeat heartbeat;
            heartbeat.start();
            fifty.changeAll();
            spinUntil([] { return false; }, 500); // every signal handled
            blocks.push_back(heartbeat.stop());
        }
        return blocks;
    };
    const std::vector<double> unheard = longestBlocks();
    auto owned = std::make_unique<UPowerLink>();
    UPowerLink* link = owned.get();
    Form1 window(std::move(owned));
    window.show();
    if (!spinUntil([&] { return link->hasDevice() && link->attachedDevices().size() == 50; }))
        fail(QStringLiteral("the window does not see the 50 headsets"));
    const std::vector<double> blocks = longestBlocks();

    std::printf("(R) a round's listing and reading: 50 UPower devices %.1f ms, one slow phone "
                "alone %.1f ms (medians of 10; target: 50 cost no more than one phone)\n",
                upowerRound, phoneRound);
    std::printf("(P) the exporter's processor time a round: 50 UPower devices %.1f ms, one slow "
                "phone %.1f ms\n",
                upowerCpu, phoneCpu);
    std::printf("(B) the window's longest block while all 50 change at once: median %.1f ms, "
                "worst %.1f ms of 5 (target <= 16 ms); with no window listening, median %.1f "
                "ms, worst %.1f ms\n",
                median(blocks), *std::max_element(blocks.begin(), blocks.end()), median(unheard),
                *std::max_element(unheard.begin(), unheard.end()));
    std::printf("(M) the exporter's peak memory: 5 UPower devices %ld KiB, 50 %ld KiB, 50/5 = "
                "%.2f (target <= 1.5); one phone alone %ld KiB\n",
                peak5, peak50, double(peak50) / double(peak5), phonePeak);
    return 0;
}
