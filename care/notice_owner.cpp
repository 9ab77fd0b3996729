#include "care/notice_owner.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

namespace care {

NoticeOwner::NoticeOwner(const QDBusConnection& bus, Claim claim, QObject* parent)
    : QObject(parent), m_bus(bus) {
    QDBusConnectionInterface* daemon = m_bus.isConnected() ? m_bus.interface() : nullptr;
    if (!daemon) {
        m_owns = true;
        return;
    }
    auto* watcher = new QDBusServiceWatcher(kNotifierName, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                setOwns(owner == m_bus.baseService());
            });
    // A watcher takes the name from a window, which is queued again and has it back when the
    // watcher ends; the window, or a watcher behind another, waits its turn.
    if (claim == Claim::Watcher)
        daemon->registerService(kNotifierName, QDBusConnectionInterface::ReplaceExistingService,
                                QDBusConnectionInterface::DontAllowReplacement);
    if (daemon->serviceOwner(kNotifierName).value() != m_bus.baseService())
        daemon->registerService(kNotifierName, QDBusConnectionInterface::QueueService,
                                claim == Claim::Watcher
                                    ? QDBusConnectionInterface::DontAllowReplacement
                                    : QDBusConnectionInterface::AllowReplacement);
    m_owns = daemon->serviceOwner(kNotifierName).value() == m_bus.baseService();
}

NoticeOwner::~NoticeOwner() {
    // Not a blocking call: the bus may have gone a moment ago, and libdbus aborts a blocking
    // call on a connection it has already closed. A process that ends releases it anyway.
    if (m_bus.isConnected())
        m_bus.asyncCall(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("ReleaseName"))
                        << kNotifierName);
}

void NoticeOwner::setOwns(bool owns) {
    if (owns == m_owns)
        return;
    m_owns = owns;
    emit ownsChanged(owns);
}

} // namespace care
