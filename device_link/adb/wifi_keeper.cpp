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
        return {adb::ConnectOutcome::AlreadyConnected,
                QStringLiteral("%1 is connected already.").arg(address)};
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
    // Kept already: checked now, where no attempt on it is under way, with what it knows.
    if (const auto it = m_kept.find(address); it != m_kept.end()) {
        it->dueMs = m_clock.elapsed();
        it->backoffMs = m_timing.firstRetryMs;
    } else {
        m_kept.insert(address, {m_clock.elapsed(), m_timing.firstRetryMs});
    }
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

void WifiKeeper::connectNow(const QString& address, Done done) {
    enqueue(address, {[server = m_server, address] { return adb::connectWifi(server, address); },
                      std::move(done)});
}

void WifiKeeper::enqueue(const QString& address, Attempt attempt) {
    std::deque<Attempt>& queue = m_attempts[address];
    queue.push_back(std::move(attempt));
    if (queue.size() == 1)
        start(address);
}

void WifiKeeper::start(const QString& address) {
    const std::function<adb::ConnectOutcome()> work = m_attempts[address].front().work;
    const auto finish = [address](WifiKeeper& k, const adb::ConnectOutcome& outcome) {
        std::deque<Attempt>& queue = k.m_attempts[address];
        const Done done = std::move(queue.front().done);
        queue.pop_front();
        if (!queue.empty())
            k.start(address);
        else
            k.m_attempts.remove(address);
        done(outcome);
    };
    const bool started = device::runInBackground([work, finish, shared = m_shared] {
        const adb::ConnectOutcome outcome = work();
        shared->post([finish, outcome](WifiKeeper& k) { finish(k, outcome); });
    });
    if (!started)
        finish(*this, {adb::ConnectOutcome::Failed, QStringLiteral("No thread to connect on.")});
}

void WifiKeeper::schedule() {
    qint64 next = -1;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (!m_attempts.contains(it.key()) && (next < 0 || it->dueMs < next))
            next = it->dueMs;
    }
    if (next < 0)
        return m_timer.stop();
    m_timer.start(int(std::clamp<qint64>(next - m_clock.elapsed(), 0, m_timing.maxRetryMs)));
}

void WifiKeeper::tick() {
    const qint64 now = m_clock.elapsed();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (m_attempts.contains(it.key()) || it->dueMs > now)
            continue;
        const QString address = it.key();
        const std::shared_ptr<std::atomic<bool>> flag = it->stillKept;
        enqueue(address,
                {[server = m_server, address, flag] { return check(server, address, *flag); },
                 [this, address, flag](const adb::ConnectOutcome& outcome) {
                     onAttempt(address, flag, outcome);
                 }});
    }
    schedule();
}

void WifiKeeper::onAttempt(const QString& address, const std::shared_ptr<std::atomic<bool>>& flag,
                           const adb::ConnectOutcome& outcome) {
    const auto it = m_kept.find(address);
    // Forgotten meanwhile, and perhaps kept anew: not this entry's outcome.
    if (it == m_kept.end() || it->stillKept != flag)
        return schedule();
    Kept& kept = *it;
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
