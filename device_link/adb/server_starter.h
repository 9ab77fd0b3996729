// Starts an adb server on this computer where none answers, as adb's own client does, and again
// whenever the one it started has ended (a technician's "adb kill-server", a crash), waiting
// longer between starts while none comes up. The window, the scripts and the exporter all start
// their servers through it.
#pragma once

#include "device_link/adb/adb_protocol.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class QProcess;

namespace adb {

class ServerStarter final : public QObject {
    Q_OBJECT
public:
    enum class Lifetime {
        Daemon, // "adb start-server": a server of its own, which outlives this program
        Child,  // "adb nodaemon server": a child, which ends with this program
    };
    enum class Outcome {
        Started,  // a start is under way now
        Running,  // the one it started still runs (or still starts): nothing to do
        Waiting,  // the last start was too recent; try again later
        NoAdb,    // adb is not installed
        NotLocal, // the server is on another computer: never started or replaced from here
    };
    struct Backoff {
        int firstMs = 1000;
        int maxMs = 60000;
    };

    ServerStarter(ServerAddress server, Lifetime lifetime, QObject* parent = nullptr);
    // A child server goes with it: nobody else asked for it.
    ~ServerStarter() override;
    Q_DISABLE_COPY_MOVE(ServerStarter)

    void setBackoff(Backoff backoff) { m_backoff = backoff; }
    // Milliseconds on a steady clock, for the waits between starts; a test moves it.
    void setClock(std::function<qint64()> clockMs) { m_clockMs = std::move(clockMs); }

    // No server answers: start one, unless one started here still runs or the wait since the
    // last start has not passed.
    Outcome noneAnswers();
    // A server answers: the next loss is met with a start at once.
    void answers();
    // Waits at most MS for "adb start-server" to end, which it does once its server listens;
    // for a child, for it to have started. Whether it did.
    bool waitForStarted(int ms);

signals:
    // What was started has ended: "adb start-server" after starting its server (or failing),
    // or a child server.
    void ended();

private:
    ServerAddress m_server;
    Lifetime m_lifetime;
    Backoff m_backoff;
    std::unique_ptr<QProcess> m_process;
    std::function<qint64()> m_clockMs;
    std::optional<qint64> m_startedAt; // none: never started, or answered since
    int m_waitMs = 0;                  // before the next start may follow the last
};

} // namespace adb
