// What reading the battery's current and voltage costs a round of a phone: two simulated phones
// whose commands cost what they cost on a device (slow_phone.json), one that gives its current,
// one whose shell may not read it, read side by side in turns, as the exporter and the watcher
// read them:
//   (A) the median round of the phone that gives its current;
//   (B) the median round of the phone that refuses it;
//   (O) the median of the power command as it was before the current was asked for, and (N) as
//       it is now, raw exchanges with the adb server on the phone that gives it.
//   power-bench [ROUNDS]
#include "adb_harness.h"
#include "bench_support.h"
#include "device_link/adb/adb_reading.h"
#include "device_link/adb/adb_transport.h"

#include <cstdio>

using namespace bench;

int main(int argc, char* argv[]) {
    const int rounds = countsFrom(argc, argv, {60, 1}).repetitions;
    QCoreApplication app(argc, argv);
    AdbHarness harness;
    SimulatorProcess* giving =
        harness.error().isEmpty() ? harness.startSimulator(QStringLiteral("slow_phone")) : nullptr;
    SimulatorProcess* refusing =
        giving ? harness.startSimulator(QStringLiteral("slow_phone")) : nullptr;
    if (!refusing || giving->control("set battery.current -487000") != "ok") {
        std::fprintf(stderr, "power-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    const auto round = [&](SimulatorProcess* phone) {
        QElapsedTimer clock;
        clock.start();
        const DeviceReading r =
            adb::readOnce(harness.server(), {phone->serial(), "device", {}, false}, {}, false);
        if (!r.error.isEmpty()) {
            std::fprintf(stderr, "power-bench: %s\n", qPrintable(r.error));
            std::exit(1);
        }
        return msSince(clock);
    };
    const QByteArray before = "dumpsys battery; echo ::; cat /sys/class/power_supply/*/"
                              "time_to_empty_now 2>/dev/null; echo ::; cat "
                              "/sys/class/power_supply/*/time_to_full_now 2>/dev/null";
    const auto raw = [&](const QByteArray& command) {
        QElapsedTimer clock;
        clock.start();
        adb::runDeviceCommand(harness.server(), giving->serial(), command, {});
        return msSince(clock);
    };
    std::vector<double> a, b, o, n;
    for (int i = 0; i < rounds; ++i) {
        // In turns, so that whatever else the machine does falls on both alike.
        a.push_back(round(giving));
        b.push_back(round(refusing));
        o.push_back(raw(before));
        n.push_back(raw(adb::command::Power));
    }
    std::printf("(A) round, current given:    %.1f ms\n", median(a));
    std::printf("(B) round, current refused:  %.1f ms\n", median(b));
    std::printf("A/B: %.3f (target at most 1.05)\n", median(a) / median(b));
    std::printf("(O) power command before:    %.1f ms\n", median(o));
    std::printf("(N) power command now:       %.1f ms\n", median(n));
    std::printf("N/O: %.3f\n", median(n) / median(o));
    return 0;
}
