// Keeps Wi-Fi addresses connected to the adb server, as a person who typed "adb connect" would
// want: each is checked every few seconds while it is connected, and connected again when it
// drops: after 1 s, then twice as long each time up to a minute, and at once when the network
// comes back. Every attempt runs off the caller's thread, one at a time an address, a person's
// Connect too: an address that cannot be reached costs an attempt a minute, never a busy loop.
#pragma once

#include "device_link/adb/wifi.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class WifiKeeper : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int firstRetryMs = 1000;
        int maxRetryMs = 60000;
        int checkMs = 2000; // while connected
    };
    explicit WifiKeeper(adb::ServerAddress server, QObject* parent = nullptr);
    ~WifiKeeper() override;
    Q_DISABLE_COPY_MOVE(WifiKeeper)

    void setTiming(const Timing& timing) { m_timing = timing; }
    // The addresses kept, in the order they were given.
    QStringList addresses() const { return m_order; }
    // Keeps ADDRESS ("HOST:PORT") connected, from now on.
    void keep(const QString& address);
    void forget(const QString& address);
    // Whether ADDRESS was connected when it was last checked.
    bool connected(const QString& address) const;
    // Connects ADDRESS once, now, off this thread; DONE follows on it with what happened.
    void connectNow(const QString& address, std::function<void(const adb::ConnectOutcome&)> done);
    // Every address is tried again at once: the network is back.
    void retryAll();

signals:
    // An address was connected or dropped.
    void changed();
    // Why an address cannot be reached, once until it can; and when it is back.
    void said(const QString& line);

private:
    struct Kept {
        qint64 dueMs = 0;
        int backoffMs = 0;
        bool connected = false;
        bool troubleSaid = false;
        // Read by its attempt's thread, which connects only while it is kept; an attempt's
        // outcome is this entry's only where it carries this flag.
        std::shared_ptr<std::atomic<bool>> stillKept = std::make_shared<std::atomic<bool>>(true);
    };
    using Done = std::function<void(const adb::ConnectOutcome&)>;
    struct Attempt {
        std::function<adb::ConnectOutcome()> work; // off this thread
        Done done;                                 // on it
    };
    struct Shared; // what an attempt's thread reaches back to
    void tick();
    void schedule();
    // Runs ATTEMPT on ADDRESS once no other attempt on it is under way.
    void enqueue(const QString& address, Attempt attempt);
    void start(const QString& address);
    void onAttempt(const QString& address, const std::shared_ptr<std::atomic<bool>>& flag,
                   const adb::ConnectOutcome& outcome);

    adb::ServerAddress m_server;
    Timing m_timing;
    QStringList m_order;
    QHash<QString, Kept> m_kept;
    QHash<QString, std::deque<Attempt>> m_attempts; // by address: the first is under way
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::shared_ptr<Shared> m_shared;
};
