#include "device_link/adb/server_starter.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>

namespace adb {

ServerStarter::ServerStarter(ServerAddress server, Lifetime lifetime, QObject* parent)
    : QObject(parent), m_server(std::move(server)), m_lifetime(lifetime) {
    m_clockMs = [clock = std::make_shared<QElapsedTimer>()] {
        if (!clock->isValid())
            clock->start();
        return clock->elapsed();
    };
}

ServerStarter::~ServerStarter() {
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->disconnect(this);
    if (m_lifetime == Lifetime::Child) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000))
            m_process->kill();
    }
    // "adb start-server" is left to end by itself; its server lives on as it should.
    m_process->waitForFinished(1000);
}

ServerStarter::Outcome ServerStarter::noneAnswers() {
    if (!isLocalHost(m_server.host))
        return Outcome::NotLocal;
    if (m_process && m_process->state() != QProcess::NotRunning)
        return Outcome::Running;
    const qint64 now = m_clockMs();
    if (m_startedAt && now - *m_startedAt < m_waitMs)
        return Outcome::Waiting;
    const QString adbPath = QStandardPaths::findExecutable(QStringLiteral("adb"));
    if (adbPath.isEmpty())
        return Outcome::NoAdb;
    m_waitMs = m_startedAt ? std::min(m_waitMs * 2, m_backoff.maxMs) : m_backoff.firstMs;
    m_startedAt = now;
    m_process = std::make_unique<QProcess>();
    m_process->setStandardOutputFile(QProcess::nullDevice());
    connect(m_process.get(), &QProcess::finished, this, &ServerStarter::ended);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            emit ended();
    });
    const QStringList port{QStringLiteral("-P"), QString::number(m_server.port)};
    if (m_lifetime == Lifetime::Child) {
        // Its log is for adb's own developers; whoever started it says whether it answers.
        m_process->setStandardErrorFile(QProcess::nullDevice());
        m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process->start(adbPath,
                         port + QStringList{QStringLiteral("nodaemon"), QStringLiteral("server")});
    } else {
        // What it says when it fails ("could not install *smartsocket* listener") is the
        // remedy, so it goes to our standard error.
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(adbPath, port + QStringList{QStringLiteral("start-server")});
    }
    return Outcome::Started;
}

void ServerStarter::answers() {
    m_startedAt.reset();
}

bool ServerStarter::waitForStarted(int ms) {
    if (!m_process)
        return false;
    return m_lifetime == Lifetime::Child ? m_process->waitForStarted(ms)
                                         : m_process->waitForFinished(ms);
}

} // namespace adb
