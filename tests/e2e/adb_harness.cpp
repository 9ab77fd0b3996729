#include "adb_harness.h"

#include "device_link/adb/adb_transport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

quint16 freePort() {
    for (;;) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = probe.serverPort();
        if (port < 5555 || port > 5585)
            return port;
    }
}

namespace {

// Children die with the test: a test killed at its timeout must not leave a server or a device
// behind, holding CTest's output pipe open so that CTest waits for ever.
void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool waitForLine(QProcess& process, QByteArray& line, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    line = process.readLine().trimmed();
    return true;
}

} // namespace

long residentKiB(const QString& statusFile) {
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

SimulatorProcess::SimulatorProcess(const QString& program, const QStringList& profiles,
                                   quint16 port) {
    dieWithParent(m_process);
    m_process.setProgram(program);
    m_process.setArguments(profiles + QStringList{QString::number(port)});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    QByteArray line;
    if (m_process.waitForStarted(5000) && waitForLine(m_process, line, 5000) &&
        line.startsWith("listening on "))
        m_port = quint16(line.mid(13).toUShort());
}

SimulatorProcess::~SimulatorProcess() {
    kill();
}

bool SimulatorProcess::isRunning() const {
    return m_port != 0 && m_process.state() == QProcess::Running;
}

QString SimulatorProcess::control(const QString& line) {
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(2000);
    QByteArray reply;
    return waitForLine(m_process, reply, 5000) ? QString::fromUtf8(reply) : QString();
}

void SimulatorProcess::kill() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

AdbHarness::AdbHarness() {
    if (QStandardPaths::findExecutable(QStringLiteral("adb")).isEmpty()) {
        m_error = QStringLiteral("adb is not installed");
        return;
    }
    m_port = freePort();
    startServer();
}

AdbHarness::~AdbHarness() {
    m_simulators.clear();
    killServer();
}

bool AdbHarness::startServer() {
    m_server = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.remove(QStringLiteral("ADB_SERVER_SOCKET"));
    env.remove(QStringLiteral("ANDROID_ADB_SERVER_PORT"));
    dieWithParent(*m_server);
    m_server->setProcessEnvironment(env);
    m_server->setProcessChannelMode(QProcess::MergedChannels);
    m_server->setStandardOutputFile(m_home.filePath(QStringLiteral("adb-server.log")),
                                    QIODevice::Append);
    m_server->start(QStringLiteral("adb"), {QStringLiteral("-P"), QString::number(m_port),
                                            QStringLiteral("nodaemon"), QStringLiteral("server")});
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_server->state() == QProcess::NotRunning)
            break;
        try {
            adb::hostQuery(server(), "host:version", {1000, 4096});
            m_error.clear();
            return true;
        } catch (const adb::TransportError&) {
            QThread::msleep(100);
        }
    }
    m_error = QStringLiteral("the adb server did not start on port %1").arg(m_port);
    return false;
}

void AdbHarness::killServer() {
    if (m_server && m_server->state() != QProcess::NotRunning) {
        m_server->kill();
        m_server->waitForFinished(5000);
    }
}

SimulatorProcess* AdbHarness::startSimulator(const QString& profileName) {
    SimulatorProcess* started = startProcess({profileName});
    return started && connect(*started) ? started : nullptr;
}

SimulatorProcess* AdbHarness::startUsbSimulator(const QString& profileName,
                                                const QStringList& controls) {
    SimulatorProcess* started = startProcess({profileName});
    if (!started)
        return nullptr;
    for (const QString& line : controls)
        started->control(line);
    const QString transport = QStringLiteral("emulator-%1").arg(started->port() - 1);
    try {
        adb::hostQuery(server(), "host:emulator:" + QByteArray::number(started->port()),
                       {2000, 4096});
    } catch (const adb::TransportError&) {
        // The server answers nothing to it; it connects.
    }
    const QDeadlineTimer deadline(10000);
    while (!devices().contains(transport + u'\t') && !deadline.hasExpired())
        QThread::msleep(50);
    if (devices().contains(transport + u'\t'))
        return started;
    m_error = QStringLiteral("the adb server does not list %1").arg(transport);
    return nullptr;
}

SimulatorProcess* AdbHarness::startIphone(const QString& profileName, quint16 port) {
    SimulatorProcess* started = startProcess({profileName}, port);
    if (started)
        qputenv("USBMUXD_SOCKET_ADDRESS", started->usbmuxdAddress().toUtf8());
    return started;
}

SimulatorProcess* AdbHarness::startIphones(const QStringList& profileNames) {
    SimulatorProcess* started = startProcess(profileNames);
    if (started)
        qputenv("USBMUXD_SOCKET_ADDRESS", started->usbmuxdAddress().toUtf8());
    return started;
}

SimulatorProcess* AdbHarness::startProcess(const QStringList& profileNames, quint16 port) {
    QStringList paths;
    for (const QString& name : profileNames)
        paths << QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tools/device_sim/profiles/") + name +
                     QStringLiteral(".json");
    auto simulator =
        std::make_unique<SimulatorProcess>(QStringLiteral(DEVICE_SIM_EXE), paths, port);
    if (!simulator->isRunning()) {
        m_error = QStringLiteral("the simulator did not start");
        return nullptr;
    }
    m_simulators.push_back(std::move(simulator));
    return m_simulators.back().get();
}

bool AdbHarness::connect(const SimulatorProcess& simulator) {
    try {
        const QByteArray reply =
            adb::hostQuery(server(), "host:connect:" + simulator.serial().toUtf8(), {5000, 4096});
        // A device that never authorizes is still attached, as "unauthorized".
        if (!reply.startsWith("connected to") && !reply.startsWith("already connected") &&
            !reply.startsWith("failed to authenticate")) {
            m_error = QString::fromUtf8(reply);
            return false;
        }
    } catch (const adb::TransportError& e) {
        m_error = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

bool AdbHarness::disconnect(const SimulatorProcess& simulator) {
    try {
        adb::hostQuery(server(), "host:disconnect:" + simulator.serial().toUtf8(), {5000, 4096});
        return true;
    } catch (const adb::TransportError& e) {
        m_error = QString::fromUtf8(e.what());
        return false;
    }
}

QString AdbHarness::devices() {
    try {
        return QString::fromUtf8(adb::hostQuery(server(), "host:devices", {2000, 65536}));
    } catch (const adb::TransportError& e) {
        return QString::fromUtf8(e.what());
    }
}

HttpAnswer httpExchange(quint16 port, const QByteArray& request, int ms,
                        const std::optional<QSslConfiguration>& tls) {
    const QDeadlineTimer deadline(ms);
    QSslSocket socket;
    HttpAnswer answer;
    if (tls) {
        socket.setSslConfiguration(*tls);
        socket.connectToHostEncrypted(QStringLiteral("localhost"), port);
        if (!socket.waitForEncrypted(ms))
            return answer;
    } else {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(ms))
            return answer;
    }
    socket.write(request);
    QByteArray got;
    // Until the server closes the connection, or the body its head announces is in.
    const auto complete = [&got] {
        const qsizetype end = got.indexOf("\r\n\r\n");
        static const QRegularExpression length(QStringLiteral("\r\nContent-Length: *(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = length.match(QString::fromLatin1(got.left(end)));
        return end >= 0 && m.hasMatch() && got.size() - end - 4 >= m.captured(1).toLongLong();
    };
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired() &&
           !complete()) {
        if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            got += socket.readAll();
    }
    got += socket.readAll();
    const qsizetype end = got.indexOf("\r\n\r\n");
    if (!got.startsWith("HTTP/1.") || end < 0)
        return answer;
    answer.status = got.mid(9, 3).toInt();
    answer.head = got.left(end);
    answer.body = got.mid(end + 4);
    // A large answer of Prometheus' own comes in chunks.
    if (answer.head.toLower().contains("\r\ntransfer-encoding: chunked")) {
        QByteArray whole;
        for (qsizetype at = 0; at < answer.body.size();) {
            const qsizetype line = answer.body.indexOf("\r\n", at);
            bool ok = false;
            const qsizetype size = answer.body.mid(at, line - at).toLongLong(&ok, 16);
            if (line < 0 || !ok || size == 0)
                break;
            whole += answer.body.mid(line + 2, size);
            at = line + 2 + size + 2;
        }
        answer.body = whole;
    }
    return answer;
}

HttpAnswer httpGet(quint16 port, const QByteArray& path, const QByteArray& method) {
    return httpExchange(port, method + ' ' + path +
                                  " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
}

ExporterProcess::ExporterProcess(const QString& program, const QProcessEnvironment& environment,
                                 const QStringList& extraArguments) {
    dieWithParent(m_process);
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(program, QStringList{"--serve", "127.0.0.1:0"} + extraArguments);
    static const QRegularExpression serving(
        QStringLiteral("serving metrics at https?://[^:]+:(\\d+)/"));
    const QDeadlineTimer deadline(10000);
    while (m_port == 0 && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        m_stderr += m_process.readAllStandardError();
        if (const QRegularExpressionMatch m = serving.match(QString::fromUtf8(m_stderr));
            m.hasMatch())
            m_port = quint16(m.captured(1).toUInt());
    }
    if (m_port == 0)
        m_error = QStringLiteral("the exporter did not start: ") + QString::fromUtf8(m_stderr);
}

ExporterProcess::~ExporterProcess() {
    if (m_process.state() != QProcess::NotRunning)
        stop();
}

int ExporterProcess::stop() {
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
