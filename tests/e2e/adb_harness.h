// Starts a private adb server (Debian's adb, its own port and HOME) and device simulators for
// end-to-end tests, demos and benchmarks, and stops every process it started when it goes.
#pragma once

#include "device_link/adb/adb_protocol.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

// A free loopback port outside 5555 to 5585, where adb servers look for emulators.
quint16 freePort();

// Resident memory from a /proc status file, in KiB; -1 when it cannot be read.
long residentKiB(const QString& statusFile = QStringLiteral("/proc/self/status"));

class SimulatorProcess {
public:
    SimulatorProcess(const QString& program, const QStringList& profiles, quint16 port = 0);
    ~SimulatorProcess();

    bool isRunning() const;
    qint64 pid() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    QString serial() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Where libusbmuxd finds a simulated iPhone's usbmuxd.
    QString usbmuxdAddress() const { return serial(); }
    // Sends one control line and returns the simulator's reply.
    QString control(const QString& line);
    void kill();

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// An answer to one HTTP request.
struct HttpAnswer {
    int status = 0; // 0: no answer
    QByteArray head;
    QByteArray body;
};

// Sends REQUEST (a whole HTTP request) to a server on this computer and reads its answer until
// it closes the connection, within MS; over TLS where TLS is given.
HttpAnswer httpExchange(quint16 port, const QByteArray& request, int ms = 5000,
                        const std::optional<QSslConfiguration>& tls = std::nullopt);
// "GET PATH", closing the connection after the answer.
HttpAnswer httpGet(quint16 port, const QByteArray& path, const QByteArray& method = "GET");

// "device-info --serve" on a free port of this computer, with ENVIRONMENT; stopped with SIGTERM
// when it goes.
class ExporterProcess {
public:
    ExporterProcess(const QString& program, const QProcessEnvironment& environment,
                    const QStringList& extraArguments = {});
    ~ExporterProcess();

    // Empty while it serves; otherwise why it does not.
    const QString& error() const { return m_error; }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QByteArray metrics() { return httpGet(m_port, "/metrics").body; }
    // Sends SIGTERM and waits; its exit status, or -1 when it did not end normally.
    int stop();
    // All it wrote to standard error so far.
    QByteArray standardError() { return m_stderr += m_process.readAllStandardError(); }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_stderr;
};

class AdbHarness {
public:
    AdbHarness();
    ~AdbHarness();

    // Empty when the server is up; otherwise why it is not.
    const QString& error() const { return m_error; }
    quint16 port() const { return m_port; }
    qint64 serverPid() const { return m_server ? m_server->processId() : 0; }
    QString socketSpec() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(m_port); }
    adb::ServerAddress server() const { return {QStringLiteral("127.0.0.1"), m_port}; }

    // Starts a simulator with a profile from tools/device_sim/profiles and has the server
    // connect to it; nullptr (and error()) when that fails.
    SimulatorProcess* startSimulator(const QString& profileName);
    // Starts a simulator as a device the server lists other than by host:connect, as by USB:
    // an emulator's transport ("emulator-PORT"), once CONTROLS are applied to it.
    SimulatorProcess* startUsbSimulator(const QString& profileName,
                                        const QStringList& controls = {});
    // Starts a simulated iPhone (usbmuxd with the device behind it) and points libusbmuxd at
    // it, for links made after this.
    SimulatorProcess* startIphone(const QString& profileName, quint16 port = 0);
    // Several iPhones behind one simulated usbmuxd (the same profile twice is two devices).
    SimulatorProcess* startIphones(const QStringList& profileNames);
    // Has the server connect to a running simulator again (after a server restart), or let
    // it go.
    bool connect(const SimulatorProcess& simulator);
    bool disconnect(const SimulatorProcess& simulator);

    void killServer();
    bool startServer();

    // Lists the server's devices ("SERIAL\tSTATE" lines).
    QString devices();

private:
    SimulatorProcess* startProcess(const QStringList& profileNames, quint16 port = 0);

    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<SimulatorProcess>> m_simulators;
    quint16 m_port = 0;
    QString m_error;
};
