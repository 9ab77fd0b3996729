#include "device_link/adb/wifi_keeper.h"

#include "device_link/adb/adb_reading.h"
#include "device_link/background_work.h"

#include <QNetworkInformation>

#include <algorithm>
#include <atomic>
#include <mutex>

struct WifiKeeper::Shared {
    std::mutex mutex;
    WifiKeeper* keeper = nullptr;

    // Runs STEP on the keeper's thread, if the keeper is still there.
    void post(std::function<void(WifiKeeper&)> step) {
        const std::lock_guard lock(mutex);
        if (keeper)
            QMetaObject::invokeMethod(
                keeper, [keeper = keeper, step = std::move(step)] { step(*keeper); },
                Qt::QueuedConnection);
    }
};

namespace {

// Whether ADDRESS is listed ready, else the outcome of connecting it, unless it was forgotten
// meanwhile: a person who pressed Forget, then disconnected it, wants it to stay so.
adb::ConnectOutcome check(const adb::ServerAddress& server, const QString& address,
                          const std::atomic<bool>& stillKept) {
    const auto listed = adb::listDevices(server, {3000, 1 << 20}, nullptr);
    if (listed && std::any_of(listed->begin(), listed->end(), [&](const adb::Device& d) {
            return d.serial == address && d.state == QLatin1String("device");
        }))
        return {adb::ConnectOutcome::AlreadyConnected, {}};
    if (!stillKept)
        return {adb::ConnectOutcome::Failed, QStringLiteral("Forgotten.")};
    return adb::connectWifi(server, address);
}

} // namespace

WifiKeeper::WifiKeeper(adb::ServerAddress server, QObject* parent)
    : QObject(parent), m_server(std::move(server)), m_shared(std::make_shared<Shared>()) {
    m_shared->keeper = this;
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WifiKeeper::tick);
    // Where this computer can tell (NetworkManager), the network coming back is a reason to
    // try at once.
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability reachability) {
                    if (reachability == QNetworkInformation::Reachability::Online)
                        retryAll();
                });
}

WifiKeeper::~WifiKeeper() {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->keeper = nullptr;
}

void WifiKeeper::keep(const QString& address) {
    if (!m_order.contains(address))
        m_order << address;
    m_kept.insert(address, {m_clock.elapsed(), m_timing.firstRetryMs, false, false, false});
    schedule();
}

void WifiKeeper::forget(const QString& address) {
    m_order.removeAll(address);
    if (const auto it = m_kept.constFind(address); it != m_kept.cend())
        it->stillKept->store(false);
    m_kept.remove(address);
    schedule();
}

bool WifiKeeper::connected(const QString& address) const {
    return m_kept.value(address).connected;
}

void WifiKeeper::retryAll() {
    for (Kept& kept : m_kept) {
        kept.dueMs = m_clock.elapsed();
        kept.backoffMs = m_timing.firstRetryMs;
    }
    schedule();
}

void WifiKeeper::connectNow(const QString& address,
                            std::function<void(const adb::ConnectOutcome&)> done) {
    const bool started = device::runInBackground(
        [server = m_server, address, shared = m_shared, done = std::move(done)] {
            const adb::ConnectOutcome outcome = adb::connectWifi(server, address);
            shared->post([done, outcome](WifiKeeper&) { done(outcome); });
        });
    if (!started)
        done({adb::ConnectOutcome::Failed, QStringLiteral("No thread to connect on.")});
}

void WifiKeeper::schedule() {
    qint64 next = -1;
    for (const Kept& kept : std::as_const(m_kept)) {
        if (!kept.busy && (next < 0 || kept.dueMs < next))
            next = kept.dueMs;
    }
    if (next < 0)
        return m_timer.stop();
    m_timer.start(int(std::clamp<qint64>(next - m_clock.elapsed(), 0, m_timing.maxRetryMs)));
}

void WifiKeeper::tick() {
    const qint64 now = m_clock.elapsed();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (!it->busy && it->dueMs <= now)
            attempt(it.key());
    }
    schedule();
}

void WifiKeeper::attempt(const QString& address) {
    Kept& kept = m_kept[address];
    kept.busy = true;
    const bool started = device::runInBackground(
        [server = m_server, address, shared = m_shared, stillKept = kept.stillKept] {
            const adb::ConnectOutcome outcome = check(server, address, *stillKept);
            shared->post([address, outcome](WifiKeeper& k) { k.onAttempt(address, outcome); });
        });
    if (!started)
        onAttempt(address,
                  {adb::ConnectOutcome::Failed, QStringLiteral("No thread to connect on.")});
}

void WifiKeeper::onAttempt(const QString& address, const adb::ConnectOutcome& outcome) {
    const auto it = m_kept.find(address);
    if (it == m_kept.end())
        return; // forgotten meanwhile
    Kept& kept = *it;
    kept.busy = false;
    const bool was = kept.connected;
    kept.connected = outcome.connected();
    if (kept.connected) {
        kept.backoffMs = m_timing.firstRetryMs;
        kept.dueMs = m_clock.elapsed() + m_timing.checkMs;
        if (kept.troubleSaid)
            emit said(QStringLiteral("%1 is connected again.").arg(address));
        kept.troubleSaid = false;
    } else {
        kept.dueMs = m_clock.elapsed() + kept.backoffMs;
        kept.backoffMs = std::min(kept.backoffMs * 2, m_timing.maxRetryMs);
        if (!kept.troubleSaid)
            emit said(outcome.sentence + QStringLiteral(" Trying again, less and less often."));
        kept.troubleSaid = true;
    }
    if (was != kept.connected)
        emit changed();
    schedule();
}
