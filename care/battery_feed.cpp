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
        if (had)
            emit devicesChanged();
        return;
    }
    DeviceWatch::Options options = m_options.watch;
    options.intervalMs =
        m_options.intervalMs > 0 ? m_options.intervalMs : m_settings.limits.intervalSeconds * 1000;
    if (m_watch && options.intervalMs == m_watch->intervalMs())
        return;
    // A new interval starts a new watch: its first round at once, then at the new pace.
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
        connect(m_upower.get(), &upower::Source::changed, this, &BatteryFeed::onUPowerChanged);
        m_upower->start();
    }
    m_watch->start();
}

std::vector<Watched> BatteryFeed::devices() const {
    std::vector<Watched> out;
    if (!m_watch)
        return out;
    for (const WatchedDevice& d : m_watch->devices()) {
        const auto live = m_live.constFind(d.listed.serial);
        out.push_back({d.listed, live != m_live.cend() ? std::optional(*live) : d.reading});
    }
    return out;
}

void BatteryFeed::onWatchChanged() {
    // Those gone take what UPower said of them along.
    QSet<QString> listed;
    for (const WatchedDevice& d : m_watch->devices())
        listed.insert(d.listed.serial);
    for (auto it = m_live.begin(); it != m_live.end();)
        it = listed.contains(it.key()) ? std::next(it) : m_live.erase(it);
    for (const WatchedDevice& d : m_watch->devices()) {
        if (!d.reading || !d.lastReadTime)
            continue;
        double& seen = m_seen[d.listed.serial];
        if (seen == *d.lastReadTime)
            continue;
        seen = *d.lastReadTime;
        // What UPower says as it changes is newer than what the round read of it.
        if (!m_live.contains(d.listed.serial))
            emit read(*d.reading, nameOf({d.listed, d.reading}));
    }
    emit devicesChanged();
}

void BatteryFeed::onUPowerChanged() {
    // Only what the watch lists as UPower's: an iPhone that UPower's idevice backend also
    // lists is read as an iPhone.
    if (!m_watch)
        return;
    const upower::Devices& devices = m_upower->devices();
    bool changed = false;
    for (const WatchedDevice& d : m_watch->devices()) {
        if (d.listed.kind != DeviceKind::UPower)
            continue;
        for (auto it = devices.begin(); it != devices.end(); ++it) {
            if (!upower::isAttached(it.key(), it.value()) ||
                upower::serial(it.key(), it.value()) != d.listed.serial)
                continue;
            DeviceReading reading = upower::reading(it.key(), it.value());
            reading.serial = d.listed.serial;
            const auto before = m_live.constFind(d.listed.serial);
            // Only the device that changed is told again.
            if (before != m_live.cend() && *before == reading)
                continue;
            m_live.insert(d.listed.serial, reading);
            changed = true;
            emit read(reading, nameOf({d.listed, reading}));
        }
    }
    if (changed)
        emit devicesChanged();
}

} // namespace care
