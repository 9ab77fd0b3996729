// Battery care with no window: every device of every kind read at the settings' interval, and
// UPower's as they change, each reading put to the rules, and the notices shown while this
// process is the one that notifies. The settings are followed as they change; with every
// notice off, nothing is read.
#pragma once

#include "care/care_state.h"
#include "care/desktop_notifier.h"
#include "care/notice_owner.h"
#include "device_link/device_watch.h"

#include <QDBusConnection>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>

namespace upower {
class Source;
}

namespace care {

// What the rules take of READING, a device called NAME, read at TIME.
Reading readingOf(const DeviceReading& reading, const QString& name, const QDateTime& time);

class CareWatch : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString settingsPath;
        QString statePath;
        DeviceWatch::Options watch; // its interval is the settings'
        int intervalMs = 0;         // where not 0, in place of the settings': for a benchmark
        KeptRules::Clock clock = &QDateTime::currentDateTimeUtc;
        std::function<void(const QString&)> say;
        // What a click on a notice does: the window shown on SERIAL.
        std::function<void(const QString& serial)> showDevice;
    };
    CareWatch(Options options, const QDBusConnection& bus, QObject* parent = nullptr);
    ~CareWatch() override;
    Q_DISABLE_COPY_MOVE(CareWatch)

    // Reads the settings and watches as they say, from now on.
    void start();
    const Limits& limits() const { return m_limits; }
    // Whether devices are being read: not while every notice is off.
    bool watching() const { return m_watch != nullptr; }
    // What it reads with; none while it reads nothing.
    const DeviceWatch* watch() const { return m_watch.get(); }

signals:
    // The session bus went away; what would be said now could not be.
    void sessionEnded();

private:
    void takeSettings();
    void onWatchChanged();
    void onUPowerChanged();
    void step(const DeviceReading& reading, const QString& name);

    Options m_options;
    QDBusConnection m_bus;
    bool m_saidSessionEnded = false;
    Limits m_limits;
    KeptRules m_rules;
    DesktopNotifier m_notifier;
    NoticeOwner m_owner;
    std::unique_ptr<DeviceWatch> m_watch;
    std::unique_ptr<upower::Source> m_upower;
    QHash<QString, double> m_seen; // each device's last reading put to the rules, by serial
    QString m_saidProblem;         // what is wrong with the settings, said once
    QFileSystemWatcher m_files;
    QTimer m_settingsTimer;
    QTimer m_settle;
};

} // namespace care
