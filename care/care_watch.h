// Battery care with no window: every device of every kind read at the settings' interval, and
// UPower's as they change, each reading put to the rules, and the notices shown while this
// process is the one that notifies; every battery at a glance for the panel. The settings are
// followed as they change; with every notice and the panel off, nothing is read.
#pragma once

#include "care/battery_feed.h"
#include "care/care_state.h"
#include "care/desktop_notifier.h"
#include "care/glance.h"
#include "care/notice_owner.h"
#include "device_link/device_watch.h"

#include <QDBusConnection>
#include <QObject>

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
    const Limits& limits() const { return m_feed.settings().limits; }
    // Whether every battery is to be shown in the panel.
    bool panel() const { return m_feed.settings().panel; }
    // Whether devices are being read: not while every notice and the panel are off.
    bool watching() const { return m_feed.reading(); }
    // What it reads with; none while it reads nothing.
    const DeviceWatch* watch() const { return m_feed.watch(); }
    // Every device read, at a glance.
    const Glance& glance() const { return m_glance; }

signals:
    // The session bus went away; what would be said now could not be.
    void sessionEnded();
    // The panel was turned on or off in the settings.
    void panelChanged(bool shown);
    // What the panel and a status bar show changed.
    void glanceChanged(const care::Glance& glance);

private slots:
    // The session bus went away: nothing said or shown from now on would be seen.
    void onBusGone();

private:
    void step(const DeviceReading& reading, const QString& name);
    void lookAgain();

    Options m_options;
    QDBusConnection m_bus;
    bool m_saidSessionEnded = false;
    KeptRules m_rules;
    DesktopNotifier m_notifier;
    NoticeOwner m_owner;
    BatteryFeed m_feed;
    bool m_panel = false; // as last told
    Glance m_glance;
};

} // namespace care
