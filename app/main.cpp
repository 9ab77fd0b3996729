// Device Info: shows the state of an attached battery-powered device.
#include "app/desktop_integration.h"
#include "device_link/adb_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    app::nameApplication();

    auto link = std::make_unique<AdbLink>();
    const AdbLink& adb = *link;
    Form1 window(std::move(link));
    app::showLinkStatus(window, adb.statusText());
    QObject::connect(&adb, &AdbLink::statusChanged, &window,
                     [&window](const QString& text) { app::showLinkStatus(window, text); });
    QObject::connect(&window, &Form1::failureReported, &window, [&window](const QString& message) {
        std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(message));
        // Non-modal, so no second event loop runs while the window goes on working.
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Device Info"), message,
                                    QMessageBox::Ok, &window);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
    window.show();
    return QApplication::exec();
}
