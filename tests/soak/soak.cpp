// Connects and disconnects a simulated phone through a private adb server many times, with a
// refresh between, and checks that the window's resident memory stays flat.
//   device-info-soak [CYCLES]    (default 1000; memory is compared after cycle 100 and the last)
#include "adb_harness.h"
#include "device_link/adb/adb_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>

namespace {

template <typename Done> bool waitUntil(Done&& done, int ms = 10000) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(5);
    return done();
}

int fail(const char* what, int cycle) {
    std::fprintf(stderr, "device-info-soak: %s in cycle %d\n", what, cycle);
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(101, std::atoi(argv[1])) : 1000;

    AdbHarness harness;
    SimulatorProcess* phone = harness.error().isEmpty()
                                  ? harness.startSimulator(QStringLiteral("current_phone"))
                                  : nullptr;
    if (!phone) {
        std::fprintf(stderr, "device-info-soak: %s\n", qPrintable(harness.error()));
        return 1;
    }
    auto link = std::make_unique<AdbLink>(harness.socketSpec());
    link->setMayStartServer(false);
    Form1 form(std::move(link));
    int failures = 0;
    QObject::connect(&form, &Form1::failureReported, [&failures](const QString& message) {
        ++failures;
        std::fprintf(stderr, "device-info-soak: reported: %s\n", qPrintable(message));
    });
    auto* address = form.findChild<QLabel*>(QStringLiteral("IPAddrLabel"));
    auto* picture = form.findChild<QWidget*>(QStringLiteral("ConnectedPicture"));
    auto* refresh = form.findChild<QPushButton*>(QStringLiteral("RefreshCommand"));
    form.show();

    long after100 = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (cycle > 1 && !harness.connect(*phone))
            return fail("the server did not connect the device", cycle);
        if (!waitUntil([&] { return !picture->isHidden() && !address->text().isEmpty(); }))
            return fail("the window did not show the device", cycle);
        refresh->click();
        if (!harness.disconnect(*phone))
            return fail("the server did not let the device go", cycle);
        if (!waitUntil([&] { return picture->isHidden(); }))
            return fail("the window did not return to the not-connected look", cycle);
        if (cycle == 100)
            after100 = residentKiB();
    }
    const long atEnd = residentKiB();
    std::printf("%d cycles, %d failures reported; resident memory after cycle 100: %ld KiB, "
                "after cycle %d: %ld KiB (%+.1f%%)\n",
                cycles, failures, after100, cycles, atEnd,
                100.0 * double(atEnd - after100) / double(after100));
    if (failures > 0)
        return 1;
#ifdef DEVICE_INFO_SANITIZED
    // Under AddressSanitizer resident memory is mostly its quarantine of freed blocks, which
    // fills for thousands of cycles; the release build's run holds the program to flat memory.
    return 0;
#else
    return atEnd <= after100 * 11 / 10 ? 0 : 1;
#endif
}
