// UPower on the system bus (org.freedesktop.UPower; Qt takes DBUS_SYSTEM_BUS_ADDRESS): its
// devices and their properties, listed once and then kept up to date by UPower's own signals,
// DeviceAdded, DeviceRemoved and PropertiesChanged, never by asking again. Every call has a
// deadline, so that a computer without UPower, or without a system bus, costs one line.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusMessage;
class QDBusObjectPath;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace upower {

// Every device UPower lists, by object path, with its properties: the computer's own power too.
using Devices = QMap<QString, QVariantMap>;

class Source : public QObject {
    Q_OBJECT
public:
    explicit Source(int deadlineMs = 2000, QObject* parent = nullptr);
    ~Source() override;
    Q_DISABLE_COPY_MOVE(Source)

    // Connects, lists and follows, from the next turn of the event loop.
    void start();
    const Devices& devices() const { return m_devices; }
    // Why UPower cannot be asked, in one sentence; empty while it answers.
    const QString& trouble() const { return m_trouble; }

signals:
    // A device came or went, or one of its properties changed.
    void changed();
    void troubleChanged(const QString& trouble);

private slots:
    void onDeviceAdded(const QDBusObjectPath& path);
    void onDeviceRemoved(const QDBusObjectPath& path);
    void onPropertiesChanged(const QString& interface, const QVariantMap& changedProperties,
                             const QStringList& invalidated, const QDBusMessage& message);

private:
    void enumerate();
    void fetch(const QString& path);
    void setTrouble(const QString& trouble);

    int m_deadlineMs;
    Devices m_devices;
    QString m_trouble;
    QDBusServiceWatcher* m_watcher = nullptr; // a child
    quint64 m_generation = 0;                 // of the listing: answers to an older one are dropped
};

// One look at UPower, blocking, within DEADLINE_MS in all: for a script, on any thread. ERROR
// says why there is none.
Devices snapshot(int deadlineMs, QString* error);

} // namespace upower
