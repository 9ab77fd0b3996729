// The host side of the adb server's smart-socket protocol on a loopback port, run on its own
// thread so that the link's blocking queries can be answered. Tests script the device list and
// what each device command prints, hangs or floods.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>

class FakeAdbServerWorker;

class FakeAdbServer {
public:
    enum class Reply { Output, Hang, Flood, Fail };
    struct Command {
        Reply reply = Reply::Output;
        QByteArray output;
    };

    FakeAdbServer();
    ~FakeAdbServer();

    // Listens on a loopback port (the same one again after stop()).
    void start();
    // Closes every connection and stops listening: the server is gone.
    void stop();
    quint16 port() const { return m_port; }
    QString socketSpec() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(m_port); }

    // The device list in host:devices-l form ("SERIAL device ...\n" lines). Pushed to open
    // trackers only when pushToTrackers is true, as servers do for additions and removals.
    void setDevices(const QByteArray& list, bool pushToTrackers = true);
    // What "exec:COMMAND" (or "shell:COMMAND") answers, by exact command text.
    void setCommand(const QByteArray& command, Command reply);
    // Commands that have no script print this.
    void setDefaultOutput(const QByteArray& output);
    // Refuse exec: (as devices before Android 5 do) or tport (as servers before protocol 41).
    void setRefuseExec(bool refuse);
    void setUnknownTport(bool unknown);
    // Accept connections and never answer.
    void setSilent(bool silent);
    // Raw bytes to every open tracker (for bad lengths and cut messages), then optionally close.
    void sendToTrackers(const QByteArray& bytes, bool thenClose = false);
    // Answer track requests with FAIL.
    void setRefuseTracking(bool refuse);
    // Answer host:devices-l this late, with the list as it was when asked.
    void setPollDelay(int ms);

    // Services received, in order ("host:track-devices-l", "exec:cat /proc/meminfo", ...).
    QList<QByteArray> requests() const;
    int commandsRun(const QByteArray& command) const;

private:
    friend class FakeAdbServerWorker;
    template <typename F> void onWorker(F&& f);

    QThread m_thread;
    std::unique_ptr<FakeAdbServerWorker> m_worker;
    quint16 m_port = 0;
};
