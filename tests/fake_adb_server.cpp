#include "fake_adb_server.h"

#include "device_link/adb/adb_protocol.h"

#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class FakeAdbServerWorker : public QObject {
public:
    QTcpServer server{this};
    QList<QPointer<QTcpSocket>> trackers;
    QList<QPointer<QTcpSocket>> all;
    QByteArray devices;
    QHash<QByteArray, FakeAdbServer::Command> commands;
    QByteArray defaultOutput = "/system/bin/sh: unknown: not found\n";
    bool refuseExec = false;
    bool unknownTport = false;
    bool silent = false;
    bool refuseTracking = false;
    int pollDelayMs = 0;
    mutable QMutex logLock;
    QList<QByteArray> log;

    static QByteArray frame(const QByteArray& payload) {
        return QByteArray::number(payload.size(), 16).rightJustified(4, '0') + payload;
    }

    void accept() {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            all << socket;
            socket->setProperty("transport", QByteArray());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void onRead(QTcpSocket* socket) {
        if (silent)
            return socket->readAll(), void();
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        for (;;) {
            const adb::Payload request = adb::decodeLengthPrefixed(buffer);
            if (request.status != adb::Decode::Complete)
                break;
            buffer.remove(0, request.consumed);
            {
                QMutexLocker lock(&logLock);
                log << request.data;
            }
            handle(socket, request.data);
        }
        socket->setProperty("buffer", buffer);
    }

    // Output in bursts far below any cap, so that only what adds up across reads can trip it;
    // bounded, so that a link that never stops reading still ends the test.
    void flood(QTcpSocket* socket, int burst = 0) {
        if (burst >= 512 || socket->state() != QAbstractSocket::ConnectedState)
            return;
        socket->write(QByteArray(8 * 1024, 'x'));
        QTimer::singleShot(1, socket, [this, socket, burst] { flood(socket, burst + 1); });
    }

    bool hasReadyDevice(const QByteArray& serial) const {
        for (const QByteArray& line : devices.split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2 && fields[0] == serial && fields[1] == "device")
                return true;
        }
        return false;
    }

    void handle(QTcpSocket* socket, const QByteArray& service) {
        if (service == "host:track-devices-l") {
            if (refuseTracking)
                return socket->write("FAIL" + frame("tracking refused")), void();
            socket->write("OKAY" + frame(devices));
            trackers << socket;
        } else if (service == "host:devices-l") {
            const QByteArray answer = "OKAY" + frame(devices);
            QTimer::singleShot(pollDelayMs, socket, [socket, answer] {
                socket->write(answer);
                socket->disconnectFromHost();
            });
        } else if (service.startsWith("host:tport:serial:") ||
                   service.startsWith("host:transport:")) {
            const bool tport = service.startsWith("host:tport:");
            const QByteArray serial = service.mid(service.indexOf(':', 5) + 1)
                                          .mid(tport ? QByteArray("serial:").size() : 0);
            if (tport && unknownTport) {
                socket->write("FAIL" + frame("unknown host service"));
                socket->disconnectFromHost();
            } else if (!hasReadyDevice(serial)) {
                socket->write("FAIL" + frame("device '" + serial + "' not found"));
                socket->disconnectFromHost();
            } else {
                socket->write(tport ? QByteArray("OKAY\x07\0\0\0\0\0\0\0", 12) : "OKAY");
                socket->setProperty("transport", serial);
            }
        } else if ((service.startsWith("exec:") || service.startsWith("shell:")) &&
                   !socket->property("transport").toByteArray().isEmpty()) {
            if (refuseExec && service.startsWith("exec:")) {
                socket->write("FAIL" + frame("closed"));
                socket->disconnectFromHost();
                return;
            }
            const QByteArray command = service.mid(service.indexOf(':') + 1);
            const FakeAdbServer::Command reply =
                commands.value(command, {FakeAdbServer::Reply::Output, defaultOutput});
            switch (reply.reply) {
            case FakeAdbServer::Reply::Output:
                socket->write("OKAY" + reply.output);
                socket->disconnectFromHost();
                break;
            case FakeAdbServer::Reply::Hang:
                socket->write("OKAY");
                break;
            case FakeAdbServer::Reply::Flood:
                socket->write("OKAY");
                flood(socket);
                break;
            case FakeAdbServer::Reply::Fail:
                socket->write("FAIL" + frame(reply.output));
                socket->disconnectFromHost();
                break;
            }
        } else {
            socket->write("FAIL" + frame("unknown host service"));
            socket->disconnectFromHost();
        }
    }
};

FakeAdbServer::FakeAdbServer() : m_worker(std::make_unique<FakeAdbServerWorker>()) {
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    QObject::connect(&m_worker->server, &QTcpServer::newConnection, m_worker.get(),
                     [w = m_worker.get()] { w->accept(); });
}

FakeAdbServer::~FakeAdbServer() {
    stop();
    m_thread.quit();
    m_thread.wait();
}

template <typename F> void FakeAdbServer::onWorker(F&& f) {
    QMetaObject::invokeMethod(m_worker.get(), std::forward<F>(f), Qt::BlockingQueuedConnection);
}

void FakeAdbServer::start() {
    onWorker([this] {
        if (!m_worker->server.listen(QHostAddress::LocalHost, m_port))
            qFatal("fake adb server cannot listen: %s", qPrintable(m_worker->server.errorString()));
        m_port = m_worker->server.serverPort();
    });
}

void FakeAdbServer::stop() {
    onWorker([this] {
        m_worker->server.close();
        for (const auto& socket : std::as_const(m_worker->all)) {
            if (socket)
                socket->abort();
        }
        m_worker->all.clear();
        m_worker->trackers.clear();
    });
}

void FakeAdbServer::setDevices(const QByteArray& list, bool pushToTrackers) {
    onWorker([this, list, pushToTrackers] {
        m_worker->devices = list;
        if (!pushToTrackers)
            return;
        for (const auto& socket : std::as_const(m_worker->trackers)) {
            if (socket)
                socket->write(FakeAdbServerWorker::frame(list));
        }
    });
}

void FakeAdbServer::setCommand(const QByteArray& command, Command reply) {
    onWorker([this, command, reply] { m_worker->commands.insert(command, reply); });
}

void FakeAdbServer::setDefaultOutput(const QByteArray& output) {
    onWorker([this, output] { m_worker->defaultOutput = output; });
}

void FakeAdbServer::setRefuseExec(bool refuse) {
    onWorker([this, refuse] { m_worker->refuseExec = refuse; });
}

void FakeAdbServer::setUnknownTport(bool unknown) {
    onWorker([this, unknown] { m_worker->unknownTport = unknown; });
}

void FakeAdbServer::setSilent(bool silent) {
    onWorker([this, silent] { m_worker->silent = silent; });
}

void FakeAdbServer::setRefuseTracking(bool refuse) {
    onWorker([this, refuse] { m_worker->refuseTracking = refuse; });
}

void FakeAdbServer::sendToTrackers(const QByteArray& bytes, bool thenClose) {
    onWorker([this, bytes, thenClose] {
        for (const auto& socket : std::as_const(m_worker->trackers)) {
            if (!socket)
                continue;
            socket->write(bytes);
            if (thenClose)
                socket->disconnectFromHost();
        }
    });
}

void FakeAdbServer::setPollDelay(int ms) {
    onWorker([this, ms] { m_worker->pollDelayMs = ms; });
}

QList<QByteArray> FakeAdbServer::requests() const {
    QMutexLocker lock(&m_worker->logLock);
    return m_worker->log;
}

int FakeAdbServer::commandsRun(const QByteArray& command) const {
    int count = 0;
    for (const QByteArray& request : requests()) {
        if (request == "exec:" + command || request == "shell:" + command)
            ++count;
    }
    return count;
}
