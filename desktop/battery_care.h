// The window's battery care: while a notification is on and a device is shown, the device's
// battery, and only its battery, is read at the interval the user chose; the power panel shows
// what was read, and the rules say when a notification is due. Notifications... in the window's
// context menu sets them.
#pragma once

#include "care/care_state.h"
#include "care/desktop_notifier.h"
#include "care/keep_watch.h"
#include "care/notice_owner.h"
#include "display/battery_care.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class CombinedLink;
class Form1;
struct DeviceReading;

namespace desktop {

class BatteryCare : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    // Reads the settings at SETTINGS_PATH (a problem with them said on standard error) and
    // keeps what it said at STATE_PATH.
    // The watcher is started as PROGRAM --care with the session through AUTOSTART.
    BatteryCare(Form1& window, CombinedLink& link, QString settingsPath,
                QString statePath = care::statePath(), Clock clock = &QDateTime::currentDateTimeUtc,
                QString autostart = care::autostartPath(), QString program = {});

    const care::Limits& limits() const { return m_limits; }
    // Watches as LIMITS say, at once, and keeps them in the settings file.
    void setLimits(const care::Limits& limits);
    // Reads the battery now, as the interval does.
    void checkNow();
    // Reads every MS rather than at the limits' interval: for a test that cannot wait 10 s.
    void setIntervalMs(int ms);
    care::DesktopNotifier& notifier() { return m_notifier; }
    care::KeepWatch& keepWatch() { return m_keepWatch; }
    // Whether this window notifies: not while a watcher does.
    bool notifies() const { return m_owner.owns(); }
    // Whether every battery is shown in the panel, as the settings file says now.
    bool panel() const;
    // Keeps whether every battery is shown in the panel.
    void setPanel(bool shown);
    // The window on SERIAL, brought to the front; TOKEN from the panel where it gave one.
    void showDevice(const QString& serial, const QString& token = {});
    // Notifications..., as the context menu opens it.
    void showSettings(const QString& token = {});
    void setOpenSettings(std::function<void()> open) { m_openSettings = std::move(open); }

signals:
    void limitsChanged();

private:
    void apply();
    void onBattery(const DeviceReading& battery);

    Form1& m_window;
    CombinedLink& m_link;
    QString m_path;
    Clock m_clock;
    care::Limits m_limits;
    care::KeptRules m_rules;
    care::DesktopNotifier m_notifier;
    care::NoticeOwner m_owner;
    care::KeepWatch m_keepWatch;
    QTimer m_timer;
    int m_intervalMs = 0; // 0: the limits'
    std::function<void()> m_openSettings;
};

// Notifications... in WINDOW's context menu, opening one non-modal dialog for CARE.
void installNotificationsMenu(QWidget& window, BatteryCare& care);

} // namespace desktop
