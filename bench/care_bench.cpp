// Measures what battery care costs the window: its longest block (the longest gap between ticks
// of a 1 ms timer on its thread) over 31 s of a 10 s interval, three reads of a simulated slow
// phone's battery, against the same 31 s with every notification off.
//   care-bench
#include "adb_harness.h"
#include "bench_support.h"
#include "desktop/battery_care.h"
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_link.h"
#include "device_link/combined_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

int main(int argc, char* argv[]) {
    qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // no desktop: the words go nowhere, the reads run
    QApplication app(argc, argv);
    AdbHarness harness;
    SimulatorProcess* phone =
        harness.error().isEmpty() ? harness.startSimulator(QStringLiteral("slow_phone")) : nullptr;
    if (!phone) {
        std::fprintf(stderr, "care-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    auto adb = std::make_unique<AdbLink>(harness.socketSpec());
    adb->setMayStartServer(false);
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({QStringLiteral("Android:"), std::move(adb)});
    auto combined = std::make_unique<CombinedLink>(std::move(kinds));
    CombinedLink& link = *combined;
    Form1 window(std::move(combined));
    window.show();
    if (!spinUntil([&] { return link.hasDevice(); }, 20000)) {
        std::fprintf(stderr, "care-bench: the window shows no device\n");
        return 1;
    }
    spinUntil([] { return false; }, 3000); // the connection's health read is behind it
    QTemporaryDir settings;
    desktop::BatteryCare care(window, link, settings.filePath("care.conf"),
                              settings.filePath("care-state.json"));
    const auto powerReads = [&] {
        return QJsonDocument::fromJson(phone->control(QStringLiteral("count")).toUtf8())
            .object()
            .value(QString::fromUtf8(adb::command::Power))
            .toInt();
    };
    const auto run = [&](const care::Limits& limits) {
        care.setLimits(limits);
        const int before = powerReads();
        Heartbeat heartbeat;
        heartbeat.start();
        spinUntil([] { return false; }, 31000);
        return std::pair{heartbeat.stop(), powerReads() - before};
    };
    const auto [off, readsOff] = run({0, 0, 0, 60});
    const auto [on, readsOn] = run({80, 20, 40, 10});
    std::printf("the window's longest block over 31 s: %.1f ms with notifications on at a 10 s "
                "interval (%d battery reads), %.1f ms with them off (%d reads); target <= 16 ms\n",
                on, readsOn, off, readsOff);
    return 0;
}
