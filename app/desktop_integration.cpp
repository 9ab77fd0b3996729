#include "app/desktop_integration.h"

#include <QApplication>
#include <QString>
#include <QWidget>

namespace app {

QString applicationId() {
    return QStringLiteral(DEVICE_INFO_APP_ID);
}

void nameApplication() {
    QApplication::setApplicationName(QStringLiteral("device-info"));
    QApplication::setApplicationVersion(QStringLiteral(DEVICE_INFO_VERSION));
    QApplication::setDesktopFileName(applicationId());
}

void showLinkStatus(QWidget& window, const QString& text) {
    // Escaped rich text: a tooltip would take "<b>" in a device's name as markup otherwise, and
    // rich text wraps long lines.
    const QString tip = QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped());
    for (const char* name : {"Frame2", "ConnectedPicture", "DisconnectedPicture"}) {
        if (auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name))) {
            widget->setToolTip(tip);
            widget->setAccessibleDescription(text);
        }
    }
}

} // namespace app
