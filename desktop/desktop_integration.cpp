#include "desktop/desktop_integration.h"

#include "device_link/kind_link.h"
#include "layout/element_table.h"
#include "layout/progress_bar.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QShortcut>
#include <QString>
#include <QWidget>

#include <vector>

namespace desktop {
namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Escaped rich text: a tooltip would take "<b>" in a device's words as markup otherwise, and
// rich text wraps long lines.
QString tooltip(const QStringList& lines) {
    QStringList escaped;
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    return QStringLiteral("<p>%1</p>").arg(escaped.join(QStringLiteral("<br>")));
}

// Each panel's details, with the frame that holds the panel and the value fields they describe.
struct Panel {
    const char* frame;
    QStringList DeviceDetails::*lines;
    std::vector<const char*> fields;
};
const Panel kPanels[] = {
    {"Frame1", &DeviceDetails::memory, {"MemoryLabel", "AvailableLabel"}},
    {"Frame6", &DeviceDetails::storage, {"StorageLabel", "StorageFreeLabel"}},
    {"Frame4",
     &DeviceDetails::power,
     {"BatteryStatusLabel", "BatteryLifeLabel", "BatteryFullTimeLabel", "ACLineStatusLabel"}},
    {"Frame5", &DeviceDetails::screen, {"ScreenHeightLabel", "ScreenWidthLabel"}},
    {"Frame3", &DeviceDetails::processor, {"ProcessorLabel"}},
};

QString shownValue(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* bar = qobject_cast<const ProgressBar*>(widget))
        return QString::number(qRound(bar->value()));
    return QString();
}

const QString kUnavailable = QStringLiteral("Unavailable");

// A bar whose panel says its values are unavailable: its 0 means nothing.
bool unavailableBar(const QWidget* widget) {
    if (!qobject_cast<const ProgressBar*>(widget))
        return false;
    for (const QLabel* field : widget->parentWidget()->findChildren<const QLabel*>()) {
        if (field->text() == kUnavailable)
            return true;
    }
    return false;
}

} // namespace

QString applicationId() {
    return QStringLiteral(DEVICE_INFO_APP_ID);
}

void nameApplication() {
    QApplication::setApplicationName(QStringLiteral("device-info"));
    QApplication::setApplicationVersion(QStringLiteral(DEVICE_INFO_VERSION));
    QApplication::setDesktopFileName(applicationId());
}

void showLinkStatus(QWidget& window, const QString& text) {
    for (const char* name : {"Frame2", "ConnectedPicture", "DisconnectedPicture"}) {
        if (auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name))) {
            widget->setToolTip(tooltip({text}));
            widget->setAccessibleDescription(text);
        }
    }
}

void showDetails(QWidget& window, const DeviceDetails& details) {
    for (const Panel& panel : kPanels) {
        const QStringList& lines = details.*panel.lines;
        for (const char* name : panel.fields) {
            if (auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name))) {
                widget->setToolTip(lines.isEmpty() ? QString() : tooltip(lines));
                widget->setAccessibleDescription(lines.join(u'\n'));
            }
        }
    }
}

QString report(const QWidget& window, const QString& status, const DeviceDetails& details) {
    // The window doubles "[*]" in its title so that Qt shows it; the report gives it once.
    QStringList out{window.windowTitle().replace(QStringLiteral("[*][*]"), QStringLiteral("[*]"))};
    const auto* connected = window.findChild<const QWidget*>(QStringLiteral("ConnectedPicture"));
    out << QStringLiteral("Connection: %1")
               .arg(connected && !connected->isHidden() ? QStringLiteral("Connected")
                                                        : QStringLiteral("Not connected"));
    const QString address =
        shownValue(window.findChild<const QWidget*>(QStringLiteral("IPAddrLabel")));
    if (!address.isEmpty())
        out << QStringLiteral("Network address: %1").arg(address);
    // Each caption with what it names, panel by panel as the window reads.
    for (const layout::CaptionPair& pair : layout::captionPairs()) {
        QString caption = toQString(layout::findElement(pair.caption)->caption);
        if (!caption.endsWith(u':'))
            caption += u':';
        const QWidget* shown = window.findChild<const QWidget*>(toQString(pair.labelled));
        out << caption + u' ' + (unavailableBar(shown) ? kUnavailable : shownValue(shown));
    }
    out << QString() << QStringLiteral("Status: %1").arg(status);
    for (const Panel& panel : kPanels) {
        const QStringList& lines = details.*panel.lines;
        if (lines.isEmpty())
            continue;
        out << toQString(layout::findElement(panel.frame)->caption) + u':';
        for (const QString& line : lines)
            out << QStringLiteral("  ") + line;
    }
    return out.join(u'\n') + u'\n';
}

void installCopy(QWidget& window, std::function<QString()> report) {
    auto* copyAll = new QAction(QObject::tr("Copy all"), &window);
    QObject::connect(copyAll, &QAction::triggered, &window,
                     [report] { QGuiApplication::clipboard()->setText(report()); });
    window.addAction(copyAll);
    window.setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QShortcut(QKeySequence::Copy, &window);
    QObject::connect(copy, &QShortcut::activated, &window, [&window, report] {
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            if (label->hasSelectedText())
                return QGuiApplication::clipboard()->setText(label->selectedText());
        }
        QGuiApplication::clipboard()->setText(report());
    });
}

void showLink(QWidget& window, const KindLink& link) {
    showLinkStatus(window, link.statusText());
    showDetails(window, link.details());
    QObject::connect(&link, &KindLink::statusChanged, &window,
                     [&window](const QString& text) { showLinkStatus(window, text); });
    QObject::connect(&link, &KindLink::detailsChanged, &window,
                     [&window](const DeviceDetails& details) { showDetails(window, details); });
    installCopy(window,
                [&window, &link] { return report(window, link.statusText(), link.details()); });
}

} // namespace desktop
