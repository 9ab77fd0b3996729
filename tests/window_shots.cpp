// Opens the real window and writes PNGs of its looks.
//   window-shots FOLDER              not connected, and connected with sample values from a
//                                    scripted link
//   window-shots --adb SPEC FOLDER   connected through the adb server at SPEC, once the
//                                    device's address is shown
//   window-shots --iphone FOLDER     connected to the iPhone that usbmuxd (as
//                                    USBMUXD_SOCKET_ADDRESS says) reports, once it is named
#include "device_link/adb/adb_link.h"
#include "device_link/ios/ios_link.h"
#include "display/form1.h"
#include "scripted_link.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <cstdio>

namespace {

bool shoot(Form1& form, const QString& path) {
    // Let the window system map and paint the window before it is grabbed.
    if (!QTest::qWaitForWindowExposed(&form))
        return false;
    QTest::qWait(300);
    const QPixmap shot = form.screen()->grabWindow(form.winId());
    return !shot.isNull() && shot.save(path);
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [--adb SOCKET_SPEC | --iphone] FOLDER\n", argv[0]);
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
