#include "care/care_watch.h"

#include "care/care_settings.h"
#include "device_link/upower/upower_source.h"
#include "device_link/upower/upower_values.h"
#include "report/reading_values.h"

#include <QDir>
#include <QFileInfo>

#include <malloc.h>

namespace care {

Reading readingOf(const DeviceReading& battery, const QString& name, const QDateTime& time) {
    Reading reading;
    reading.serial = battery.serial;
    reading.name = name;
    // What the JSON report and the metrics say of the same reading.
    const report::BatteryValues values = report::batteryValues(battery);
    reading.percent = values.percent;
    reading.level = values.level;
    reading.charging = values.charging.value_or(false);
    reading.temperatureC = values.temperatureC;
    reading.onMains = values.onMains.value_or(false);
    reading.flow = values.powerW ? values.powerW : values.currentA;
    reading.draining = device::draining(values.currentA, values.powerW, reading.onMains);
    reading.time = time;
    return reading;
}

CareWatch::CareWatch(Options options, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_bus(bus),
      m_rules(m_options.statePath, m_options.clock, m_options.say), m_notifier(bus),
      m_owner(bus, NoticeOwner::Claim::Watcher) {
    // What another process said while this one waited its turn is not said again.
    connect(&m_owner, &NoticeOwner::ownsChanged, this, [this](bool owns) {
        if (owns)
            m_rules.reload();
    });
    connect(&m_notifier, &DesktopNotifier::deviceWanted, this, [this](const QString& serial) {
        if (m_options.showDevice)
            m_options.showDevice(serial);
    });
    // A settings file written anew is a new file in its folder; the timer catches a change an
    // editor hides. A file written in place is empty for a moment: it is read once it settles.
    m_settle.setSingleShot(true);
    m_settle.setInterval(500);
    connect(&m_settle, &QTimer::timeout, this, &CareWatch::takeSettings);
    connect(&m_files, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    connect(&m_files, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_settingsTimer, &QTimer::timeout, this, [this] {
        // Each read runs on a thread of its own, and glibc keeps what their arenas freed; a
        // process that runs all session long gives it back once an interval.
        malloc_trim(0);
        takeSettings();
    });
}

CareWatch::~CareWatch() = default;

void CareWatch::start() {
    // What a window said before this process took the notifying over.
    m_rules.reload();
    m_notifier.probeUntilAvailable();
    // Watched from the start, so that settings the dialog writes later are heard at once.
    QDir().mkpath(QFileInfo(m_options.settingsPath).path());
    takeSettings();
}

void CareWatch::takeSettings() {
    const QString folder = QFileInfo(m_options.settingsPath).path();
    if (QFileInfo(folder).isDir() && !m_files.directories().contains(folder))
        m_files.addPath(folder);
    if (QFileInfo(m_options.settingsPath).isFile() && m_files.files().isEmpty())
        m_files.addPath(m_options.settingsPath);
    const CareSettings read = readCareSettings(m_options.settingsPath);
    if (read.problem != m_saidProblem && !read.problem.isEmpty())
        m_options.say(read.problem);
    m_saidProblem = read.problem;
    const bool first = !m_settingsTimer.isActive();
    if (!first && read.limits == m_limits)
        return;
    m_limits = read.limits;
    m_settingsTimer.start(m_limits.intervalSeconds * 1000);
    if (!m_limits.any()) {
        if (m_watch || first)
            m_options.say(QStringLiteral("every battery notice is off: nothing is read until "
                                         "one is turned on in %1")
                              .arg(m_options.settingsPath));
        m_watch.reset();
        m_upower.reset();
        m_seen.clear();
        return;
    }
    DeviceWatch::Options options = m_options.watch;
    options.intervalMs =
        m_options.intervalMs > 0 ? m_options.intervalMs : m_limits.intervalSeconds * 1000;
    if (m_watch && options.intervalMs == m_watch->intervalMs())
        return;
    // A new interval starts a new watch: its first round at once, then at the new pace.
    m_watch = std::make_unique<DeviceWatch>(options);
    connect(m_watch.get(), &DeviceWatch::changed, this, &CareWatch::onWatchChanged);
    connect(m_watch.get(), &DeviceWatch::androidTrouble, this, [this](const QString& why) {
        m_options.say(why.isEmpty() ? QStringLiteral("the adb server answers again") : why);
    });
    connect(m_watch.get(), &DeviceWatch::upowerTrouble, this, [this](const QString& why) {
        m_options.say(why.isEmpty() ? QStringLiteral("UPower answers again") : why);
    });
    if (!m_upower) {
        m_upower = std::make_unique<upower::Source>();
        connect(m_upower.get(), &upower::Source::changed, this, &CareWatch::onUPowerChanged);
        m_upower->start();
    }
    m_watch->start();
}

void CareWatch::onWatchChanged() {
    for (const WatchedDevice& d : m_watch->devices()) {
        if (!d.reading || !d.lastReadTime)
            continue;
        double& seen = m_seen[d.listed.serial];
        if (seen == *d.lastReadTime)
            continue;
        seen = *d.lastReadTime;
        step(*d.reading, d.listed.name);
    }
}

void CareWatch::onUPowerChanged() {
    // Only what the watch lists as UPower's: an iPhone that UPower's idevice backend also
    // lists is read as an iPhone.
    if (!m_watch)
        return;
    const upower::Devices& devices = m_upower->devices();
    for (const WatchedDevice& d : m_watch->devices()) {
        if (d.listed.kind != DeviceKind::UPower)
            continue;
        for (auto it = devices.begin(); it != devices.end(); ++it) {
            if (upower::isAttached(it.key(), it.value()) &&
                upower::serial(it.key(), it.value()) == d.listed.serial)
                step(upower::reading(it.key(), it.value()), d.listed.name);
        }
    }
}

void CareWatch::step(const DeviceReading& reading, const QString& name) {
    // A session bus gone does not come back to this connection: a notice now would be kept as
    // said and never seen.
    if (!m_bus.isConnected()) {
        if (!std::exchange(m_saidSessionEnded, true)) {
            m_options.say(QStringLiteral("the session bus went away: battery care ends"));
            emit sessionEnded();
        }
        return;
    }
    if (!m_owner.owns() || !m_limits.any())
        return;
    for (const Notice& notice : m_rules.step(m_limits, readingOf(reading, name, m_options.clock())))
        m_notifier.show(notice);
}

} // namespace care
