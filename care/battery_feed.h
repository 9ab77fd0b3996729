// What battery care and the status bar read: every device of every kind at the settings'
// interval, and UPower's as they change, with the settings in device-info.conf followed as they
// are rewritten. Whether it reads at all is the caller's rule of the settings: the watcher reads
// while a notice or the panel is on, a status bar always.
#pragma once

#include "care/care_settings.h"
#include "care/glance.h"
#include "device_link/device_watch.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace upower {
class Source;
}

namespace care {

class BatteryFeed : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString settingsPath;
        DeviceWatch::Options watch; // its interval is the settings'
        int intervalMs = 0;         // where not 0, in place of the settings': for a benchmark
        std::function<void(const QString&)> say;
        // Whether to read under the settings given.
        std::function<bool(const CareSettings&)> reads = &CareSettings::reads;
        // What is said while it reads nothing.
        QString idle = {};
    };
    explicit BatteryFeed(Options options, QObject* parent = nullptr);
    ~BatteryFeed() override;
    Q_DISABLE_COPY_MOVE(BatteryFeed)

    // Reads the settings and watches as they say, from now on.
    void start();
    const CareSettings& settings() const { return m_settings; }
    bool reading() const { return m_watch != nullptr; }
    const DeviceWatch* watch() const { return m_watch.get(); }
    // Every device listed, with its latest reading: UPower's as it last changed.
    std::vector<Watched> devices() const;

signals:
    // The settings were read anew and say something else.
    void settingsChanged();
    // A new reading of a device.
    void read(const DeviceReading& reading, const QString& name);
    // What devices() gives may have changed.
    void devicesChanged();

private:
    void takeSettings();
    void onWatchChanged();
    void onUPowerChanged();
    // Whether UPower's devices are taken as it says them, rather than as a round listed them.
    bool upowerLive() const;

    Options m_options;
    CareSettings m_settings;
    bool m_started = false;
    std::unique_ptr<DeviceWatch> m_watch;
    std::unique_ptr<upower::Source> m_upower;
    QHash<QString, double> m_seen; // each device's last reading told, by serial
    std::vector<Watched> m_live;   // UPower's devices as it last said them
    bool m_upowerHeard = false;    // it has said something since it was asked
    QString m_saidProblem;         // what is wrong with the settings, said once
    QFileSystemWatcher m_files;
    QTimer m_settingsTimer;
    QTimer m_settle;
    QTimer m_upowerSoon;
};

} // namespace care
