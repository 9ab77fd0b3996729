#include "care/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <algorithm>
#include <cstdio>

namespace care {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// Long enough for a desktop busy starting up, short enough that one that hangs is soon told.
constexpr int kCallMs = 5000;
// A session still starting gets its notification service within seconds; one that has none
// is asked no more than once a minute.
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 60000;

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        const QStringList keys = m_waiting.keys();
        for (const QString& key : keys)
            send(key);
        if (keys.isEmpty() && m_keepProbing)
            probe();
    });
    if (!m_bus.isConnected())
        return;
    // A service started anew knows none of our notices, and may hand their ids out again.
    auto* service =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(service, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        m_shown.clear();
        m_serials.clear();
    });
    // Whoever sent a notification hears its clicks; the ids tell ours from others'.
    m_bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                  SLOT(onClosed(uint, uint)));
}

void DesktopNotifier::probe() {
    if (!m_bus.isConnected())
        return setAvailable(false, QStringLiteral("there is no session bus"));
    // Starts a service the bus knows how to start, as showing a notification would.
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(call(QStringLiteral("GetServerInformation")), kCallMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError() && m_keepProbing)
            retryLater();
        else if (!w->isError())
            m_retryMs = 0;
        setAvailable(!w->isError(), w->error().message());
    });
}

void DesktopNotifier::probeUntilAvailable() {
    m_keepProbing = true;
    probe();
}

void DesktopNotifier::retryLater() {
    m_retryMs = std::clamp(m_retryMs * 2, kFirstRetryMs, kLastRetryMs);
    if (!m_retry.isActive())
        m_retry.start(m_retryMs);
}

void DesktopNotifier::show(const Notice& notice) {
    const QString key = notice.serial + u' ' + QString::number(int(notice.kind));
    m_waiting.insert(key, notice);
    send(key);
}

void DesktopNotifier::send(const QString& key) {
    const Notice notice = m_waiting.value(key);
    if (!m_bus.isConnected())
        return setAvailable(false, QStringLiteral("there is no session bus"));
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.critical() ? 2 : 1))},
        {QStringLiteral("desktop-entry"), QStringLiteral(DEVICE_INFO_APP_ID)},
        {QStringLiteral("category"), QStringLiteral("device")}};
    message << QStringLiteral("Device Info") << m_shown.value(key, 0u)
            << QStringLiteral(DEVICE_INFO_APP_ID) << notice.text << QString()
            << QStringList{QStringLiteral("default"), tr("Show the device")} << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, notice](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    // A service that answers late may still show it: not said twice.
                    if (reply.error().type() == QDBusError::NoReply ||
                        reply.error().type() == QDBusError::Timeout) {
                        m_waiting.remove(key);
                        return setAvailable(false, reply.error().message());
                    }
                    // Tried again with a backoff; a later notice of its kind takes its place.
                    retryLater();
                    return setAvailable(false, reply.error().message());
                }
                if (m_waiting.value(key) == notice)
                    m_waiting.remove(key);
                m_serials.remove(m_shown.value(key));
                m_shown.insert(key, reply.value());
                m_serials.insert(reply.value(), notice.serial);
                m_retryMs = 0;
                setAvailable(true);
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
    const auto it = m_serials.constFind(id);
    if (it != m_serials.cend() && action == u"default")
        emit deviceWanted(*it);
}

void DesktopNotifier::onClosed(uint id, uint) {
    // Closed: the next of its kind is a new notification, not a replacement of one gone.
    const QString serial = m_serials.take(id);
    for (auto it = m_shown.begin(); !serial.isEmpty() && it != m_shown.end();)
        it = it.value() == id ? m_shown.erase(it) : std::next(it);
}

void DesktopNotifier::setAvailable(bool available, const QString& why) {
    if (!available && !m_saidNone) {
        m_saidNone = true;
        std::fprintf(stderr,
                     "device-info: this desktop shows no notifications (%s); they are tried "
                     "again until it does\n",
                     qUtf8Printable(why));
    }
    if (available && m_saidNone && m_available == false) {
        m_saidNone = false;
        std::fprintf(stderr, "device-info: notifications are shown again\n");
    }
    if (m_available == available)
        return;
    m_available = available;
    emit availableChanged(available);
}

} // namespace care
