#include "device_link/upower/upower_source.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QTimer>

namespace upower {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UPower");
const QString kPath = QStringLiteral("/org/freedesktop/UPower");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.UPower.Device");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// Far more than any desktop has; a bus that says more is not believed past it.
constexpr qsizetype kMaxDevices = 256;

QDBusMessage enumerateCall() {
    return QDBusMessage::createMethodCall(kService, kPath, kService,
                                          QStringLiteral("EnumerateDevices"));
}

QDBusMessage getAllCall(const QString& path) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("GetAll"));
    call << kDeviceInterface;
    return call;
}

// The object paths of EnumerateDevices' answer, at most kMaxDevices of them.
QStringList paths(const QDBusMessage& reply) {
    QStringList out;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return out;
    for (const QDBusObjectPath& path :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst())) {
        if (out.size() < kMaxDevices)
            out << path.path();
    }
    return out;
}

QVariantMap properties(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(reply.arguments().constFirst());
}

QString noBus(const QDBusConnection& bus) {
    return QStringLiteral("No system bus to ask UPower on (%1)")
        .arg(bus.lastError().message().isEmpty() ? QStringLiteral("none is running")
                                                 : bus.lastError().message());
}

QString noAnswer(const QDBusMessage& reply) {
    return QStringLiteral("UPower does not answer on the system bus (%1)")
        .arg(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage());
}

} // namespace

Source::Source(int deadlineMs, QObject* parent) : QObject(parent), m_deadlineMs(deadlineMs) {}

Source::~Source() = default;

void Source::start() {
    QTimer::singleShot(0, this, [this] {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return setTrouble(noBus(bus));
        // A slot's argument types must be known by name before Qt D-Bus can connect it.
        qRegisterMetaType<QDBusObjectPath>();
        qRegisterMetaType<QDBusMessage>();
        bus.connect(kService, kPath, kService, QStringLiteral("DeviceAdded"), this,
                    SLOT(onDeviceAdded(QDBusObjectPath)));
        bus.connect(kService, kPath, kService, QStringLiteral("DeviceRemoved"), this,
                    SLOT(onDeviceRemoved(QDBusObjectPath)));
        // Every device's, whatever its path.
        bus.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                    SLOT(onPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
        // UPower restarted (an upgrade): list anew; gone: nothing is known of its devices.
        m_watcher =
            new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    ++m_generation;
                    m_devices.clear();
                    if (owner.isEmpty())
                        setTrouble(QStringLiteral("UPower stopped on the system bus"));
                    emit changed();
                    if (!owner.isEmpty())
                        enumerate();
                });
        enumerate();
    });
}

void Source::enumerate() {
    const quint64 generation = ++m_generation;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::systemBus().asyncCall(enumerateCall(), m_deadlineMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage)
            return setTrouble(noAnswer(reply));
        setTrouble({});
        // Only ever added to: a device that came while the list was made is kept.
        for (const QString& path : paths(reply))
            fetch(path);
    });
}

void Source::fetch(const QString& path) {
    const quint64 generation = m_generation;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::systemBus().asyncCall(getAllCall(path), m_deadlineMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path, generation] {
        watcher->deleteLater();
        // A device that went meanwhile stays gone.
        if (generation != m_generation || m_devices.size() >= kMaxDevices)
            return;
        const QVariantMap got = properties(watcher->reply());
        if (got.isEmpty())
            return;
        m_devices.insert(path, got);
        emit changed();
    });
}

void Source::onDeviceAdded(const QDBusObjectPath& path) {
    fetch(path.path());
}

void Source::onDeviceRemoved(const QDBusObjectPath& path) {
    if (m_devices.remove(path.path()) > 0)
        emit changed();
}

void Source::onPropertiesChanged(const QString& interface, const QVariantMap& changedProperties,
                                 const QStringList& invalidated, const QDBusMessage& message) {
    const auto device = m_devices.find(message.path());
    if (interface != kDeviceInterface || device == m_devices.end())
        return;
    for (auto it = changedProperties.cbegin(); it != changedProperties.cend(); ++it)
        device->insert(it.key(), it.value());
    for (const QString& key : invalidated)
        device->remove(key);
    emit changed();
}

void Source::setTrouble(const QString& trouble) {
    if (trouble == m_trouble)
        return;
    m_trouble = trouble;
    emit troubleChanged(m_trouble);
}

Devices snapshot(int deadlineMs, QString* error) {
    const QDeadlineTimer deadline(deadlineMs);
    QDBusConnection bus = QDBusConnection::systemBus();
    Devices out;
    if (!bus.isConnected()) {
        *error = noBus(bus);
        return out;
    }
    const QDBusMessage listed = bus.call(enumerateCall(), QDBus::Block, deadlineMs);
    if (listed.type() != QDBusMessage::ReplyMessage) {
        *error = noAnswer(listed);
        return out;
    }
    for (const QString& path : paths(listed)) {
        const int left = int(deadline.remainingTime());
        if (left <= 0)
            break;
        if (const QVariantMap got = properties(bus.call(getAllCall(path), QDBus::Block, left));
            !got.isEmpty())
            out.insert(path, got);
    }
    return out;
}

} // namespace upower
