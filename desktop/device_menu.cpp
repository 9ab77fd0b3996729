#include "desktop/device_menu.h"

#include "device_link/combined_link.h"
#include "device_link/device_facts.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace desktop {
namespace {

// "&" would mark a mnemonic in an action's text.
QString literal(const QString& text) {
    return QString(text).replace(u'&', QStringLiteral("&&"));
}

void fill(QMenu& menu, CombinedLink& link, const std::function<void(QMenu&)>& more) {
    menu.clear();
    QAction* first = menu.addAction(QObject::tr("First ready device"));
    first->setCheckable(true);
    first->setChecked(link.wantedSerial().isEmpty());
    QObject::connect(first, &QAction::triggered, &link,
                     [&link] { link.setWantedSerial(QString(), QString()); });
    menu.addSeparator();
    const QString chosen =
        link.wantedSerial().isEmpty() ? link.followedSerial() : link.wantedSerial();
    for (const AttachedDevice& device : link.attachedDevices()) {
        QAction* entry = menu.addAction(literal(deviceEntryText(device)));
        entry->setCheckable(true);
        entry->setChecked(device.serial == chosen);
        entry->setEnabled(device.state.isEmpty());
        QObject::connect(entry, &QAction::triggered, &link, [&link, serial = device.serial] {
            link.setWantedSerial(serial, QStringLiteral("the Device menu"));
        });
    }
    if (more) {
        menu.addSeparator();
        more(menu);
    }
}

} // namespace

QString deviceEntryText(const AttachedDevice& device) {
    const QString serial = device::printable(device.serial, 80);
    QString text = device.name.isEmpty()
                       ? QStringLiteral("%1 %2").arg(device.label, serial)
                       : QStringLiteral("%1 (%2, %3)")
                             .arg(device::printable(device.name, 40), device.label, serial);
    if (!device.state.isEmpty())
        text += QStringLiteral(" (%1)").arg(device::printable(device.state, 40));
    return text;
}

QMenu* installDeviceMenu(QWidget& window, CombinedLink& link, std::function<void(QMenu&)> more) {
    auto* menu = new QMenu(QObject::tr("Device"), &window);
    window.insertAction(window.actions().value(0), menu->menuAction());
    window.setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(menu, &QMenu::aboutToShow, menu,
                     [menu, &link, more] { fill(*menu, link, more); });
    // Later, never inside a choice's own signal: filling deletes the entries.
    const auto refill = [menu, &link, more] { fill(*menu, link, more); };
    QObject::connect(&link, &KindLink::devicesChanged, menu, refill, Qt::QueuedConnection);
    QObject::connect(&link, &KindLink::statusChanged, menu, refill, Qt::QueuedConnection);
    fill(*menu, link, more);
    return menu;
}

} // namespace desktop
