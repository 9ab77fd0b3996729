// Who of this session's processes notifies: the one that owns a name on the session bus. The
// watcher takes the name from a window, which waits in the bus's queue and has it back when the
// watcher ends; a second watcher waits behind the first. Without a bus nobody else can notify
// either, and the one process notifies.
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace care {

inline const QString kNotifierName = QStringLiteral("org.deviceinfo.DeviceInfo.Notifier");

class NoticeOwner : public QObject {
    Q_OBJECT
public:
    enum class Claim { Window, Watcher };
    NoticeOwner(const QDBusConnection& bus, Claim claim, QObject* parent = nullptr);
    ~NoticeOwner() override;
    Q_DISABLE_COPY_MOVE(NoticeOwner)

    bool owns() const { return m_owns; }

signals:
    // OWNS changed: true when this process is now the one that notifies.
    void ownsChanged(bool owns);

private:
    void setOwns(bool owns);

    QDBusConnection m_bus;
    bool m_owns = false;
};

} // namespace care
