// The desktop's notifications: org.freedesktop.Notifications on the session bus, through Qt
// D-Bus. One notification of each kind a device, a later one replacing the earlier in place.
// Every call is asynchronous, with a deadline: a service that hangs delays nothing in the window.
#pragma once

#include "display/battery_care.h"

#include <QHash>
#include <QObject>

#include <optional>

class QDBusPendingCallWatcher;

namespace desktop {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    // Shows NOTICE, in place of the last of its kind for its device.
    void show(const care::Notice& notice);
    // Asks the bus whether anything shows notifications; availableChanged follows.
    void probe();
    // Whether the desktop shows notifications; none until it is known.
    std::optional<bool> available() const { return m_available; }

signals:
    void availableChanged(bool available);

private:
    void setAvailable(bool available, const QString& why = {});

    std::optional<bool> m_available;
    bool m_saidNone = false;
    QHash<QString, uint> m_shown; // the service's id of each kind a device, by "serial kind"
};

} // namespace desktop
