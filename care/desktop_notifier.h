// The desktop's notifications: org.freedesktop.Notifications on the session bus, through Qt
// D-Bus. One notification of each kind a device, a later one replacing the earlier in place;
// clicking one asks for its device. Every call is asynchronous, with a deadline: a service that
// hangs delays nothing. A notice the service could not take is tried again, with a backoff,
// until one takes it.
#pragma once

#include "display/battery_care.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <optional>

namespace care {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // On BUS; the session bus where none is given.
    explicit DesktopNotifier(QObject* parent = nullptr);
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // Shows NOTICE, in place of the last of its kind for its device.
    void show(const Notice& notice);
    // Asks the bus whether anything shows notifications; availableChanged follows.
    void probe();
    // Probes, and again with a backoff while nothing shows notifications: a session still
    // starting.
    void probeUntilAvailable();
    // Whether the desktop shows notifications; none until it is known.
    std::optional<bool> available() const { return m_available; }

signals:
    void availableChanged(bool available);
    // One of our notices was clicked: its device is wanted.
    void deviceWanted(const QString& serial);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    void send(const QString& key);
    void retryLater();
    void setAvailable(bool available, const QString& why = {});

    QDBusConnection m_bus;
    std::optional<bool> m_available;
    bool m_saidNone = false;
    QHash<QString, uint> m_shown;     // the service's id of each kind a device, by "serial kind"
    QHash<uint, QString> m_serials;   // the device of each of our notices still shown, by id
    QHash<QString, Notice> m_waiting; // what no service has taken yet, by "serial kind"
    QTimer m_retry;
    int m_retryMs = 0;
    bool m_keepProbing = false;
};

} // namespace care
