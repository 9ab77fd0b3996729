#include "display/form1.h"

#include "display/text_format.h"
#include "layout/element_table.h"

#include <QLabel>

void Form1::GetScreenInfo() {
    const qint32 width = Pelorin1->GetSystemMetric(0).toInt32();
    const qint32 height = Pelorin1->GetSystemMetric(1).toInt32();
    if (width < 1 || height < 1) {
        ScreenWidthLabel->setText(QString());
        ScreenHeightLabel->setText(QString());
        return;
    }
    ScreenWidthLabel->setText(display::numberToText(width) + QStringLiteral(" pixels"));
    ScreenHeightLabel->setText(display::numberToText(height) + QStringLiteral(" pixels"));
}

void Form1::GetDeviceId() {
    const DeviceValue value =
        Pelorin1->ReadRegistryValue(2, QStringLiteral("IDENT"), QStringLiteral("name"));
    QString title =
        QString::fromUtf8(layout::kWindowCaption.data(), qsizetype(layout::kWindowCaption.size()));
    // The name is joined as given, its control characters shown as escapes; a numeric value
    // cannot be joined to text and fails.
    if (!(value == QString()))
        title +=
            QStringLiteral(" (") + display::visibleControls(value.toString()) + QStringLiteral(")");
    // Qt reads "[*]" in a title as the modified marker; doubled, it shows literally.
    setWindowTitle(title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}
