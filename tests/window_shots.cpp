// Opens the real window and writes PNGs of its looks.
//   window-shots FOLDER              not connected, and connected with sample values from a
//                                    scripted link
//   window-shots --adb SPEC FOLDER   connected through the adb server at SPEC, once the
//                                    device's address is shown
//   window-shots --iphone FOLDER     connected to the iPhone that usbmuxd (as
//                                    USBMUXD_SOCKET_ADDRESS says) reports, once it is named
//   window-shots --history FOLDER    the Battery history window of that iPhone, whose
//                                    reading today joins eleven earlier monthly ones
//   window-shots --upower FOLDER     connected to the first peripheral UPower (on the system
//                                    bus, as DBUS_SYSTEM_BUS_ADDRESS says) knows
#include "desktop/battery_history.h"
#include "desktop/history_window.h"
#include "device_link/adb/adb_link.h"
#include "device_link/combined_link.h"
#include "device_link/ios/ios_link.h"
#include "device_link/upower/upower_link.h"
#include "display/form1.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"
#include "scripted_link.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

bool shoot(QWidget& window, const QString& path) {
    // Let the window system map and paint the window before it is grabbed.
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(300);
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    return !shot.isNull() && shot.save(path);
}

// The window on the simulated iPhone, keeping its history in a folder of its own that holds a
// year of earlier readings; then its Battery history window, opened from the context menu.
int shootHistory(const QString& path) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("device-info/history.sqlite3"));
    const QString udid = QStringLiteral("00008110-001A2B3C4D5E801E");
    {
        history::Store store(file, history::Store::Mode::Write);
        std::vector<history::Record> earlier;
        for (int month = 11; month >= 1; --month) {
            history::Record r;
            r.time = QDateTime::currentDateTimeUtc().addMonths(-month);
            r.serial = udid;
            r.kind = DeviceKind::Apple;
            r.name = QStringLiteral("Ana's iPhone");
            r.model = QStringLiteral("iPhone15,2");
            r.designMah = 3279;
            r.fullMah = 3279 * (0.99 - 0.011 * (11 - month));
            r.cycles = 212 - 17 * month;
            r.temperatureC = 28;
            r.percent = 60;
            earlier.push_back(r);
        }
        store.write(earlier);
    }
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({QStringLiteral("iPhone and iPad:"), std::make_unique<IosLink>()});
    auto owned = std::make_unique<CombinedLink>(std::move(kinds));
    CombinedLink& link = *owned;
    Form1 form(std::move(owned));
    history::Writer writer(file);
    history::Recorder recorder;
    desktop::installHistory(form, link, writer, recorder, file);
    form.show();
    const QDeadlineTimer deadline(20000);
    while (history::Store(file, history::Store::Mode::Read).records(udid).size() < 12 &&
           !deadline.hasExpired())
        QTest::qWait(100);
    for (QAction* action : form.actions()) {
        if (action->text().startsWith(QLatin1String("Battery history")))
            action->trigger();
    }
    auto* window = form.findChild<desktop::HistoryWindow*>();
    if (!window) {
        std::fprintf(stderr, "window-shots: no Battery history window\n");
        return 1;
    }
    window->resize(720, 440);
    return shoot(*window, path) ? 0 : 1;
}

} // namespace

// Shoots the window on LINK once SHOWN holds.
template <typename Shown>
int shootConnected(std::unique_ptr<Pelorin> link, Shown shown, const QString& path) {
    Form1 form(std::move(link));
    form.show();
    const QDeadlineTimer deadline(20000);
    while (!shown(form) && !deadline.hasExpired())
        QTest::qWait(50);
    if (!shown(form)) {
        std::fprintf(stderr, "window-shots: no device connected for %s\n", qPrintable(path));
        return 1;
    }
    return shoot(form, path) ? 0 : 1;
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--adb")
        return shootConnected(
            std::make_unique<AdbLink>(QString::fromLocal8Bit(argv[2])),
            [](Form1& form) {
                return !form.findChild<QLabel*>(QStringLiteral("IPAddrLabel"))->text().isEmpty();
            },
            QDir(QString::fromLocal8Bit(argv[3])).filePath("connected.png"));
    if (argc == 3 && QByteArray(argv[1]) == "--iphone")
        return shootConnected(
            std::make_unique<IosLink>(),
            [](Form1& form) { return form.windowTitle().endsWith(u')'); },
            QDir(QString::fromLocal8Bit(argv[2])).filePath("connected-iphone.png"));
    if (argc == 3 && QByteArray(argv[1]) == "--upower")
        return shootConnected(
            std::make_unique<UPowerLink>(),
            [](Form1& form) { return form.windowTitle().endsWith(u')'); },
            QDir(QString::fromLocal8Bit(argv[2])).filePath("connected-headset.png"));
    if (argc == 3 && QByteArray(argv[1]) == "--history")
        return shootHistory(QDir(QString::fromLocal8Bit(argv[2])).filePath("battery-history.png"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [--adb SOCKET_SPEC | --iphone | --upower] FOLDER\n",
                     argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    auto owned = std::make_unique<ScriptedLink>();
    ScriptedLink* link = owned.get();
    Form1 form(std::move(owned));
    form.show();
    if (!shoot(form, out.filePath("not-connected.png")))
        return 1;

    link->set("ReadRegistryValue", QStringLiteral("Pixel 7a"));
    link->set("GetMemoryStatus", 1.0, {7965753344.0, 3310448640.0});
    link->set("GetStorageStatus", 1.0, {118111600640.0, 70866960384.0});
    link->set("ProcessorType", 0.0);
    link->set("GetPowerStatus", 1.0, {1.0, 76.0, 31500.0, 4294967295.0});
    link->set("ACLineStatus", 0.0);
    link->set("GetSystemMetric(0)", 1080.0);
    link->set("GetSystemMetric(1)", 2400.0);
    link->raise(Pelorin::EventConnected);
    link->raise(Pelorin::EventAddress, QStringLiteral("192.168.1.23"));
    return shoot(form, out.filePath("connected-sample.png")) ? 0 : 1;
}
