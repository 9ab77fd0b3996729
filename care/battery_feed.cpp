#include "care/battery_feed.h"

#include "device_link/upower/upower_source.h"
#include "device_link/upower/upower_values.h"

#include <QDir>
#include <QFileInfo>

#include <malloc.h>

namespace care {

BatteryFeed::BatteryFeed(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
    // A settings file written anew is a new file in its folder; the timer catches a change an
    // editor hides. A file written in place is empty for a moment: it is read once it settles.
    m_settle.setSingleShot(true);
    m_settle.setInterval(500);
    connect(&m_settle, &QTimer::timeout, this, &BatteryFeed::takeSettings);
    connect(&m_files, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    connect(&m_files, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    m_upowerSoon.setSingleShot(true);
    m_upowerSoon.setInterval(100);
    connect(&m_upowerSoon, &QTimer::timeout, this, &BatteryFeed::onUPowerChanged);
    connect(&m_settingsTimer, &QTimer::timeout, this, [this] {
        // Each read runs on a thread of its own, and glibc keeps what their arenas freed; a
        // process that runs all session long gives it back once an interval.
        malloc_trim(0);
        takeSettings();
    });
}

BatteryFeed::~BatteryFeed() = default;

void BatteryFeed::start() {
    // Watched from the start, so that settings the dialog writes later are heard at once.
    QDir().mkpath(QFileInfo(m_options.settingsPath).path());
    takeSettings();
}

void BatteryFeed::takeSettings() {
    const QString folder = QFileInfo(m_options.settingsPath).path();
    if (QFileInfo(folder).isDir() && !m_files.directories().contains(folder))
        m_files.addPath(folder);
    if (QFileInfo(m_options.settingsPath).isFile() && m_files.files().isEmpty())
        m_files.addPath(m_options.settingsPath);
    const CareSettings read = readCareSettings(m_options.settingsPath);
    if (read.problem != m_saidProblem && !read.problem.isEmpty())
        m_options.say(read.problem);
    m_saidProblem = read.problem;
    const bool first = !std::exchange(m_started, true);
    if (!first && read.sameChoices(m_settings))
        return;
    m_settings = read;
    m_settingsTimer.start(m_settings.limits.intervalSeconds * 1000);
    if (!first)
        emit settingsChanged();
    if (!m_options.reads(m_settings)) {
        if ((m_watch || first) && !m_options.idle.isEmpty())
            m_options.say(m_options.idle.arg(m_options.settingsPath));
        const bool had = m_watch != nullptr;
        m_watch.reset();
        m_upower.reset();
        m_seen.clear();
        m_live.clear();
        m_upowerHeard = false;
        if (had)
            emit devicesChanged();
        return;
    }
    DeviceWatch::Options options = m_options.watch;
    // A device plugged in or out shows at once, not at the next round.
    options.followChanges = true;
    options.intervalMs =
        m_options.intervalMs > 0 ? m_options.intervalMs : m_settings.limits.intervalSeconds * 1000;
    // A new interval: a round at once, then at the new pace, and no device is let go meanwhile.
    if (m_watch) {
        if (options.intervalMs != m_watch->intervalMs())
            m_watch->setIntervalMs(options.intervalMs);
        return;
    }
    m_watch = std::make_unique<DeviceWatch>(options);
    connect(m_watch.get(), &DeviceWatch::changed, this, &BatteryFeed::onWatchChanged);
    connect(m_watch.get(), &DeviceWatch::firstRoundEnded, this, &BatteryFeed::devicesChanged);
    connect(m_watch.get(), &DeviceWatch::androidTrouble, this, [this](const QString& why) {
        m_options.say(why.isEmpty() ? QStringLiteral("the adb server answers again") : why);
    });
    connect(m_watch.get(), &DeviceWatch::upowerTrouble, this, [this](const QString& why) {
        m_options.say(why.isEmpty() ? QStringLiteral("UPower answers again") : why);
    });
    if (!m_upower) {
        m_upower = std::make_unique<upower::Source>();
        // A flood of changes is taken a tenth of a second at a time: each device as it is then.
        connect(m_upower.get(), &upower::Source::changed, this, [this] {
            if (!m_upowerSoon.isActive())
                m_upowerSoon.start();
        });
        m_upower->start();
    }
    m_watch->start();
}

bool BatteryFeed::upowerLive() const {
    return m_upower && m_upowerHeard && m_upower->trouble().isEmpty();
}

std::vector<Watched> BatteryFeed::devices() const {
    std::vector<Watched> out;
    if (!m_watch)
        return out;
    // UPower's as it last said them, at once, where it answers; else as the round listed them.
    const bool live = upowerLive();
    for (const WatchedDevice& d : m_watch->devices()) {
        if (!live || d.listed.kind != DeviceKind::UPower)
            out.push_back({d.listed, d.reading});
    }
    if (live)
        out.insert(out.end(), m_live.begin(), m_live.end());
    return out;
}

void BatteryFeed::onWatchChanged() {
    const bool live = upowerLive();
    for (const WatchedDevice& d : m_watch->devices()) {
        if (!d.reading || !d.lastReadTime || (live && d.listed.kind == DeviceKind::UPower))
            continue;
        double& seen = m_seen[d.listed.serial];
        if (seen == *d.lastReadTime)
            continue;
        seen = *d.lastReadTime;
        emit read(*d.reading, nameOf({d.listed, d.reading}));
    }
    emit devicesChanged();
}

void BatteryFeed::onUPowerChanged() {
    if (!m_watch)
        return;
    m_upowerHeard = true;
    // As a listing lists them: an iPhone that UPower's idevice backend also lists is read as an
    // iPhone.
    QSet<QString> others;
    for (const WatchedDevice& d : m_watch->devices()) {
        if (d.listed.kind != DeviceKind::UPower)
            others.insert(d.listed.serial);
    }
    std::vector<Watched> now;
    for (const upower::Attached& d : upower::attached(m_upower->devices(), others)) {
        DeviceReading reading = upower::reading(d.path, d.properties);
        reading.serial = d.serial;
        now.push_back({{d.serial,
                        DeviceKind::UPower,
                        QStringLiteral("ready"),
                        upower::name(d.properties),
                        {},
                        {},
                        {},
                        upower::model(d.properties)},
                       reading});
    }
    bool changed = now.size() != m_live.size();
    QHash<QString, const Watched*> before;
    for (const Watched& w : m_live)
        before.insert(w.listed.serial, &w);
    for (const Watched& d : now) {
        // Only a device that came or changed is told.
        const Watched* was = before.value(d.listed.serial);
        if (was && was->reading == d.reading && was->listed == d.listed)
            continue;
        changed = true;
        emit read(*d.reading, nameOf(d));
    }
    m_live = std::move(now);
    if (changed)
        emit devicesChanged();
}

} // namespace care
