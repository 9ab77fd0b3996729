#include "simulator.h"

#include "connections.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

namespace sim {

Simulator::Simulator(DeviceProfile profile, QObject* parent)
    : QObject(parent), m_profile(std::move(profile)) {
    connect(&m_server, &QTcpServer::newConnection, this, [this] { onNewConnection(m_server); });
    connect(&m_wifi, &QTcpServer::newConnection, this, [this] { onNewConnection(m_wifi); });
}

Simulator::~Simulator() {
    m_server.disconnect(this);
    dropAll();
}

bool Simulator::listen(quint16 port) {
    const bool listening = m_server.listen(QHostAddress::LocalHost, port);
    m_port = m_server.serverPort();
    return listening;
}

void Simulator::onNewConnection(QTcpServer& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (m_mode == Mode::Vanished) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        track(socket, m_connections, this, [this](QTcpSocket* s) { onReadyRead(s); });
        if (const auto connection = m_connections.value(socket))
            connection->wifi = &server == &m_wifi;
    }
}

void Simulator::listenOnTcp(quint16 port) {
    if (m_wifi.isListening() && m_wifiPort == port)
        return;
    m_wifi.close();
    m_wifiPort = port;
    m_wifi.listen(QHostAddress::LocalHost, port);
}

void Simulator::onReadyRead(QTcpSocket* socket) {
    const std::shared_ptr<Connection> connection = m_connections.value(socket);
    if (!connection)
        return;
    connection->buffer += socket->readAll();
    if (m_mode == Mode::Hung) {
        connection->buffer.clear();
        return;
    }
    for (;;) {
        const Decoded decoded = decodeMessage(connection->buffer);
        if (decoded.status == Decode::NeedMore)
            return;
        if (decoded.status == Decode::Malformed) {
            socket->abort();
            return;
        }
        connection->buffer.remove(0, decoded.consumed);
        handle(*connection, decoded.message);
        if (!connection->socket || connection->socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
}

void Simulator::handle(Connection& connection, const Message& message) {
    switch (message.command) {
    case A_CNXN:
        connection.maxPayload = qBound<quint32>(1024, message.arg1, kMaxPayload);
        connection.streams.clear();
        if (m_profile.neverAuthorizes)
            sendAuthToken(connection);
        else
            send(connection, {A_CNXN, kVersion, kMaxPayload, m_profile.banner()});
        break;
    case A_AUTH:
        // Every signature is refused; the public key that follows waits for a prompt that
        // nobody answers.
        if (m_profile.neverAuthorizes && message.arg0 == kAuthSignature)
            sendAuthToken(connection);
        break;
    case A_OPEN: {
        QByteArray service = message.data;
        if (service.endsWith('\0'))
            service.chop(1);
        if (service.startsWith("tcpip:")) {
            bool ok = false;
            const quint16 port = quint16(service.mid(6).toUShort(&ok));
            Stream stream;
            stream.localId = m_nextId++;
            stream.remoteId = message.arg0;
            stream.pending = ok ? "restarting in TCP mode port: " + QByteArray::number(port) + '\n'
                                : QByteArray("bad port number\n");
            send(connection, {A_OKAY, stream.localId, stream.remoteId, {}});
            sendNext(connection, connection.streams.insert(stream.localId, stream).value());
            if (ok)
                QTimer::singleShot(0, this, [this, port] { listenOnTcp(port); });
            break;
        }
        const bool exec = service.startsWith("exec:");
        const bool shell = service.startsWith("shell:");
        // A device that answers through a terminal predates the exec service.
        if (!(exec || shell) || (exec && m_profile.terminal)) {
            send(connection, {A_CLSE, 0, message.arg0, {}});
            break;
        }
        const QByteArray command = service.mid(service.indexOf(':') + 1);
        ++m_commandCounts[QString::fromUtf8(command)];
        Stream stream;
        stream.localId = m_nextId++;
        stream.remoteId = message.arg0;
        stream.endless = m_mode == Mode::Flooding;
        send(connection, {A_OKAY, stream.localId, stream.remoteId, {}});
        if (m_mode == Mode::Dripping) {
            stream.ready = false;
            connection.streams.insert(stream.localId, stream);
            later(100, connection, stream.localId,
                  [this](Connection& c, Stream& s) { drip(c, s); });
            break;
        }
        const int cost = commandCostMs(m_profile, command);
        if (cost <= 0) {
            stream.pending = runShell(m_profile, command);
            sendNext(connection, connection.streams.insert(stream.localId, stream).value());
            break;
        }
        // As adbd does, the stream opens at once and the output comes when the command ends;
        // streams run side by side.
        stream.ready = false;
        connection.streams.insert(stream.localId, stream);
        later(cost, connection, stream.localId, [this, command](Connection& c, Stream& s) {
            s.pending = runShell(m_profile, command);
            s.ready = true;
            sendNext(c, s);
        });
        break;
    }
    case A_OKAY: {
        const auto it = connection.streams.find(message.arg1);
        if (it == connection.streams.end())
            break;
        it->awaitingOkay = false;
        sendNext(connection, *it);
        break;
    }
    case A_WRTE: // input for a shell: acknowledged and ignored
        send(connection, {A_OKAY, message.arg1, message.arg0, {}});
        break;
    case A_CLSE:
        connection.streams.remove(message.arg1);
        break;
    default: // STLS is never asked for by this device; anything else is ignored
        break;
    }
}

template <typename Step>
void Simulator::later(int ms, const Connection& connection, quint32 localId, Step step) {
    QTimer::singleShot(ms, this, [this, socket = connection.socket, localId, step] {
        const std::shared_ptr<Connection> c = socket ? m_connections.value(socket) : nullptr;
        if (!c || !c->streams.contains(localId))
            return;
        step(*c, c->streams[localId]);
    });
}

void Simulator::drip(Connection& connection, Stream& stream) {
    // One byte at a time for longer than any deadline; a host whose deadline does not hold
    // still gets its end, late, so that a test can say so instead of hanging.
    if (stream.dripped >= kDripBytes) {
        send(connection, {A_CLSE, stream.localId, stream.remoteId, {}});
        connection.streams.remove(stream.localId);
        return;
    }
    if (!stream.awaitingOkay) {
        stream.awaitingOkay = true;
        ++stream.dripped;
        send(connection, {A_WRTE, stream.localId, stream.remoteId, "x"});
    }
    later(100, connection, stream.localId, [this](Connection& c, Stream& s) { drip(c, s); });
}

void Simulator::sendNext(Connection& connection, Stream& stream) {
    if (stream.awaitingOkay || !stream.ready)
        return;
    if (stream.endless && stream.pending.isEmpty())
        stream.pending = QByteArray(qsizetype(connection.maxPayload), 'x');
    if (stream.pending.isEmpty()) {
        send(connection, {A_CLSE, stream.localId, stream.remoteId, {}});
        connection.streams.remove(stream.localId);
        return;
    }
    const QByteArray chunk = stream.pending.left(connection.maxPayload);
    stream.pending.remove(0, chunk.size());
    stream.awaitingOkay = true;
    send(connection, {A_WRTE, stream.localId, stream.remoteId, chunk});
    // As adbd does, the end of the output closes the stream at once: the host's OKAY only
    // paces further writes.
    if (stream.pending.isEmpty() && !stream.endless) {
        send(connection, {A_CLSE, stream.localId, stream.remoteId, {}});
        connection.streams.remove(stream.localId);
    }
}

void Simulator::sendAuthToken(Connection& connection) {
    QByteArray token(20, '\0');
    for (char& c : token)
        c = char(QRandomGenerator::global()->bounded(256));
    send(connection, {A_AUTH, kAuthToken, 0, token});
}

void Simulator::send(Connection& connection, const Message& message) {
    if (connection.socket)
        connection.socket->write(encodeMessage(message));
}

void Simulator::dropAll() {
    const auto connections = m_connections;
    m_connections.clear();
    for (const auto& connection : connections) {
        if (connection->socket) {
            connection->socket->disconnect(this);
            connection->socket->abort();
            connection->socket->deleteLater();
        }
    }
}

QString Simulator::control(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed == QLatin1String("vanish")) {
        m_mode = Mode::Vanished;
        dropAll();
    } else if (trimmed == QLatin1String("hang")) {
        m_mode = Mode::Hung;
    } else if (trimmed == QLatin1String("flood")) {
        m_mode = Mode::Flooding;
    } else if (trimmed == QLatin1String("drip")) {
        m_mode = Mode::Dripping;
    } else if (trimmed == QLatin1String("count")) {
        QJsonObject counts;
        for (auto it = m_commandCounts.begin(); it != m_commandCounts.end(); ++it)
            counts.insert(it.key(), it.value());
        return QString::fromUtf8(QJsonDocument(counts).toJson(QJsonDocument::Compact));
    } else if (trimmed == QLatin1String("unplug") || trimmed == QLatin1String("wifi off")) {
        const bool wifi = trimmed == QLatin1String("wifi off");
        (wifi ? m_wifi : m_server).close();
        for (const auto& connection : std::as_const(m_connections)) {
            if (connection->wifi == wifi && connection->socket)
                connection->socket->abort();
        }
    } else if (trimmed == QLatin1String("plug")) {
        m_server.listen(QHostAddress::LocalHost, m_port);
    } else if (trimmed == QLatin1String("wifi on")) {
        if (m_wifiPort != 0)
            m_wifi.listen(QHostAddress::LocalHost, m_wifiPort);
    } else if (trimmed == QLatin1String("resume")) {
        m_mode = Mode::Normal;
    } else if (trimmed == QLatin1String("malformed")) {
        // A header whose magic does not match its command.
        QByteArray bad = encodeMessage({A_WRTE, 1, 1, "junk"});
        bad[20] = char(bad[20] ^ 0x55);
        for (const auto& connection : std::as_const(m_connections)) {
            if (connection->socket)
                connection->socket->write(bad);
        }
    } else if (trimmed.startsWith(QLatin1String("set "))) {
        const QString rest = trimmed.mid(4);
        const qsizetype space = rest.indexOf(u' ');
        const QString key = space < 0 ? rest : rest.left(space);
        const QString value = space < 0 ? QString() : rest.mid(space + 1);
        if (!applySetting(m_profile, key, value))
            return QStringLiteral("error: cannot set %1").arg(key);
    } else if (!trimmed.isEmpty()) {
        return QStringLiteral("error: unknown command");
    }
    return QStringLiteral("ok");
}

} // namespace sim
