#include "desktop/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <cstdio>

namespace desktop {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// Long enough for a desktop busy starting up, short enough that one that hangs is soon told.
constexpr int kCallMs = 5000;

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::probe() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return setAvailable(false, QStringLiteral("there is no session bus"));
    // Starts a service the bus knows how to start, as showing a notification would.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call(QStringLiteral("GetServerInformation")), kCallMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        setAvailable(!w->isError(), w->error().message());
    });
}

void DesktopNotifier::show(const care::Notice& notice) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return setAvailable(false, QStringLiteral("there is no session bus"));
    const QString key = notice.serial + u' ' + QString::number(int(notice.kind));
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.critical() ? 2 : 1))},
        {QStringLiteral("desktop-entry"), QStringLiteral(DEVICE_INFO_APP_ID)},
        {QStringLiteral("category"), QStringLiteral("device")}};
    message << QStringLiteral("Device Info") << m_shown.value(key, 0u)
            << QStringLiteral(DEVICE_INFO_APP_ID) << notice.text << QString() << QStringList()
            << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError())
                    return setAvailable(false, reply.error().message());
                m_shown.insert(key, reply.value());
                setAvailable(true);
            });
}

void DesktopNotifier::setAvailable(bool available, const QString& why) {
    if (!available && !m_saidNone) {
        m_saidNone = true;
        std::fprintf(stderr, "device-info: this desktop shows no notifications (%s)\n",
                     qUtf8Printable(why));
    }
    if (m_available == available)
        return;
    m_available = available;
    emit availableChanged(available);
}

} // namespace desktop
