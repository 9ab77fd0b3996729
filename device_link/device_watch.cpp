#include "device_link/device_watch.h"

#include "device_link/adb/adb_details.h"
#include "device_link/background_work.h"
#include "device_link/ios/ios_link.h"
#include "device_link/ios/lockdown_session.h"

#include <QDateTime>

#include <algorithm>
#include <functional>
#include <mutex>

// Threads hand their results back through this; it outlives the watch, and a result that comes
// after the watch went is dropped.
struct DeviceWatch::Mailbox {
    std::mutex mutex;
    DeviceWatch* watch = nullptr;

    // From any thread: WORK runs on the watch's thread, if the watch is still there then.
    void post(std::function<void(DeviceWatch&)> work) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (watch)
            QMetaObject::invokeMethod(
                watch, [w = watch, work = std::move(work)] { work(*w); }, Qt::QueuedConnection);
    }
};

DeviceWatch::DeviceWatch(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_mailbox(std::make_shared<Mailbox>()) {
    m_mailbox->watch = this;
    m_timer.setInterval(m_options.intervalMs);
    if (m_options.mayStartServer)
        m_adbServer = std::make_unique<adb::ServerStarter>(m_options.server,
                                                           adb::ServerStarter::Lifetime::Child);
    connect(&m_timer, &QTimer::timeout, this, [this] { round(); });
    m_soon.setSingleShot(true);
    m_soon.setInterval(300);
    connect(&m_soon, &QTimer::timeout, this, [this] { round(true); });
    m_retrack.setSingleShot(true);
    connect(&m_retrack, &QTimer::timeout, this, &DeviceWatch::track);
    m_clock.start();
}

DeviceWatch::~DeviceWatch() {
    {
        const std::lock_guard<std::mutex> lock(m_mailbox->mutex);
        m_mailbox->watch = nullptr;
    }
}

qint64 DeviceWatch::now() const {
    return m_options.clockMs ? m_options.clockMs() : m_clock.elapsed();
}

void DeviceWatch::start() {
    round();
    m_timer.start();
    if (m_options.followChanges) {
        track();
        m_iphones = ios::followDevices([this] { m_soon.start(); });
    }
}

void DeviceWatch::setIntervalMs(int ms) {
    m_options.intervalMs = ms;
    m_timer.start(ms);
    round();
}

void DeviceWatch::track() {
    m_tracker = std::make_unique<adb::ServerStream>();
    connect(m_tracker.get(), &adb::ServerStream::accepted, this, [this] { m_retrackMs = 0; });
    // Its first frame is the list as it is; each later one, a change.
    connect(m_tracker.get(), &adb::ServerStream::frame, &m_soon, qOverload<>(&QTimer::start));
    // A server that is not there yet is asked again less and less often, up to once a minute.
    connect(m_tracker.get(), &adb::ServerStream::ended, this, [this] {
        m_retrackMs = std::min(std::max(m_retrackMs * 2, 1000), 60000);
        m_retrack.start(m_retrackMs);
    });
    m_tracker->open(m_options.server, "host:track-devices-l", survey::kDeadlineMs);
}

WatchedDevice* DeviceWatch::find(const QString& serial) {
    for (WatchedDevice& d : m_devices) {
        if (d.listed.serial == serial)
            return &d;
    }
    return nullptr;
}

void DeviceWatch::round(bool newOnly) {
    // A listing still under way (an iPhone that takes its deadline) is not doubled; what came
    // meanwhile is listed after it.
    if (m_listing) {
        m_relist = m_relist || newOnly;
        return;
    }
    m_listing = true;
    m_newOnly = newOnly;
    // An iPhone with a session kept is asked only whether that session still stands, and one
    // that was told not to trust this computer is not asked again while it stays attached.
    std::vector<ios::Listed> known;
    for (const WatchedDevice& d : m_devices) {
        const std::shared_ptr<ios::DeviceHandle> session = m_sessions.value(d.listed.serial);
        if (session || m_denied.contains(d.listed.serial))
            known.push_back({d.listed.serial,
                             session ? ios::ReadError::None : ios::ReadError::Denied, d.listed.name,
                             session});
    }
    // Where no thread can be had, the next round tries again.
    m_listing = device::runInBackground([mailbox = m_mailbox, server = m_options.server,
                                         known = std::move(known), identities = m_identities] {
        survey::Listing listing = survey::list(server, false, {}, known, identities);
        mailbox->post([listing = std::move(listing)](DeviceWatch& w) { w.onListed(listing); });
    });
}

void DeviceWatch::onListed(const survey::Listing& listing) {
    m_listing = false;
    if (listing.androidError != m_androidTrouble) {
        m_androidTrouble = listing.androidError;
        emit androidTrouble(m_androidTrouble);
    }
    if (listing.upowerError != m_upowerTrouble) {
        m_upowerTrouble = listing.upowerError;
        emit upowerTrouble(m_upowerTrouble);
    }
    if (m_adbServer && listing.androidError.isEmpty())
        m_adbServer->answers();
    else if (m_adbServer)
        m_adbServer->noneAnswers();

    std::vector<WatchedDevice> next;
    QSet<QString> listed;
    for (const survey::ListedDevice& d : listing.devices) {
        WatchedDevice watched;
        const WatchedDevice* before = find(d.serial);
        if (before)
            watched = *before;
        // Come anew, or ready anew: a new connection, whose battery's health is read again.
        if (!before || !survey::isReady(before->listed) || !survey::isReady(d))
            m_health.remove(d.serial);
        if (!survey::isReady(d))
            watched.reading.reset();
        watched.listed = d;
        watched.readErrors = m_errors.value(d.serial);
        next.push_back(std::move(watched));
        listed.insert(d.serial);
    }
    m_devices = std::move(next);
    for (auto it = m_health.begin(); it != m_health.end();)
        it = listed.contains(it.key()) ? std::next(it) : m_health.erase(it);
    m_sessions = listing.sessions;
    m_identities = listing.identities;
    m_denied.clear();
    for (const survey::ListedDevice& d : listing.devices) {
        if (d.kind == DeviceKind::Apple && d.state == QLatin1String("denied"))
            m_denied.insert(d.serial);
    }
    emit changed();

    survey::reserveCommandThreads(std::size_t(
        std::count_if(listing.devices.begin(), listing.devices.end(), survey::isReady)));
    // A read that ends at once (UPower's, in the listing already) does not end the round while
    // others are still to start.
    m_starting = true;
    for (const survey::ListedDevice& d : listing.devices) {
        // One read a device at a time: one that hangs delays only itself.
        const WatchedDevice* watched = find(d.serial);
        if (survey::isReady(d) && !m_reading.contains(d.serial) &&
            !(m_newOnly && watched && watched->reading))
            startRead(d, listing);
    }
    m_starting = false;
    noteRoundEnd();
    if (std::exchange(m_relist, false))
        m_soon.start();
}

void DeviceWatch::noteRoundEnd() {
    if (m_firstRoundDone || m_starting || !m_reading.isEmpty())
        return;
    m_firstRoundDone = true;
    emit firstRoundEnded();
}

void DeviceWatch::startRead(const survey::ListedDevice& device, const survey::Listing& listing) {
    // What UPower said is in the listing already: nothing to wait for.
    if (device.kind == DeviceKind::UPower) {
        m_reading.insert(device.serial);
        onRead(survey::read(m_options.server, listing, device, false, nullptr), 0, false);
        return;
    }
    const auto health = m_health.constFind(device.serial);
    const bool withHealth =
        device.kind == DeviceKind::Android &&
        (health == m_health.cend() || now() - health->readAtMs >= m_options.healthEveryMs);
    m_reading.insert(device.serial);
    const std::shared_ptr<ios::DeviceHandle> session = m_sessions.value(device.serial);
    const bool started = device::runInBackground(
        [mailbox = m_mailbox, server = m_options.server, listing, device, withHealth, session] {
            QElapsedTimer clock;
            clock.start();
            DeviceReading reading = survey::read(server, listing, device, withHealth, session);
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            mailbox->post([reading = std::move(reading), seconds, withHealth](DeviceWatch& w) {
                w.onRead(reading, seconds, withHealth);
            });
        });
    if (!started) {
        DeviceReading failed;
        failed.serial = device.serial;
        failed.kind = device.kind;
        failed.error = QStringLiteral("no thread to read it on");
        onRead(failed, 0, false);
    }
}

void DeviceWatch::onRead(const DeviceReading& read, double seconds, bool withHealth) {
    m_reading.remove(read.serial);
    DeviceReading reading = read;
    if (reading.error.isEmpty() && reading.kind == DeviceKind::Android) {
        if (withHealth)
            m_health.insert(reading.serial, {reading.details.battery.capacity, now()});
        else
            adb::addBatteryCapacity(reading.details, m_health.value(reading.serial).capacity);
    }
    WatchedDevice* watched = find(reading.serial);
    if (!watched)
        return; // gone while it was read
    watched->readSeconds = seconds;
    if (reading.error.isEmpty()) {
        watched->reading = std::move(reading);
        watched->lastReadTime = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    } else {
        watched->reading.reset();
        watched->readErrors = ++m_errors[reading.serial];
    }
    noteRoundEnd();
    emit changed();
}
