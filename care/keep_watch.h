// Keeping watch with the window closed: the watcher's names on the session bus, its autostart
// entry, and what the window's Notifications... does with them.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace care {

// The watcher, one a session, and how it is ended.
inline const QString kCareName = QStringLiteral("org.deviceinfo.DeviceInfo.Care");
inline const QString kCarePath = QStringLiteral("/org/deviceinfo/DeviceInfo/Care");
inline const QString kCareInterface = QStringLiteral("org.deviceinfo.DeviceInfo.Care");
// The first window open, which a click on a notice switches to its device.
inline const QString kWindowName = QStringLiteral("org.deviceinfo.DeviceInfo");
inline const QString kWindowPath = QStringLiteral("/org/deviceinfo/DeviceInfo");
inline const QString kWindowInterface = QStringLiteral("org.deviceinfo.DeviceInfo.Window");

// The autostart entry: $XDG_CONFIG_HOME/autostart/org.deviceinfo.DeviceInfo.Care.desktop.
QString autostartPath();
// Its text, starting PROGRAM with --care: "device-info" where that is the one on the PATH.
QString autostartEntry(const QString& program);

class KeepWatch : public QObject {
    Q_OBJECT
public:
    // PROGRAM is what is started with --care: this one where none is given.
    explicit KeepWatch(const QDBusConnection& bus, QString autostart = autostartPath(),
                       QString program = {}, QObject* parent = nullptr);

    // Whether the watcher starts with the session.
    bool keeps() const;
    // Starts or removes it with the session, and starts or ends it now; one line on why it
    // could not, else empty.
    QString setKeeps(bool keeps);
    // Whether a watcher runs in this session now.
    bool running() const;

signals:
    void runningChanged(bool running);

private:
    QDBusConnection m_bus;
    QString m_autostart;
    QString m_program;
};

} // namespace care
