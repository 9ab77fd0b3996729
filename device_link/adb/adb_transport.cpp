#include "device_link/adb/adb_transport.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

#include <type_traits>

namespace adb {
namespace {

using Kind = TransportError::Kind;

// Threads kept for running a refresh's commands side by side: one for each command of two sets
// at once (a connecting device and a press of Refresh), reused from refresh to refresh rather
// than started anew for each command.
class CommandPool : public QThreadPool {
public:
    CommandPool() { setMaxThreadCount(14); }
};
Q_GLOBAL_STATIC(CommandPool, commandPool)

} // namespace

void reserveCommandThreads(int count) {
    commandPool()->setMaxThreadCount(std::clamp(count, 14, 512));
}

int commandThreads() {
    return commandPool()->maxThreadCount();
}

namespace {

class Connection {
public:
    Connection(const ServerAddress& server, QDeadlineTimer deadline, const Limits& limits)
        : m_deadline(deadline), m_limits(limits) {
        m_socket.connectToHost(server.host, server.port);
        if (!m_socket.waitForConnected(remaining()))
            throw TransportError(m_deadline.hasExpired() ? Kind::TimedOut : Kind::Unreachable,
                                 QStringLiteral("the adb server at %1:%2 is not reachable (%3)")
                                     .arg(server.host)
                                     .arg(server.port)
                                     .arg(m_socket.errorString()));
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }

    void send(const QByteArray& service) {
        const QByteArray request = encodeRequest(service);
        if (request.isEmpty())
            throw TransportError(Kind::Malformed, QStringLiteral("the request is too long"));
        m_socket.write(request);
        while (m_socket.bytesToWrite() > 0) {
            if (!m_socket.waitForBytesWritten(remaining()))
                fail();
        }
    }

    // OKAY, or the server's FAIL message as a Refused error.
    void expectOkay() {
        const Status status =
            next(decodeStatus, QStringLiteral("the adb server sent a reply it should not"));
        if (!status.okay)
            throw TransportError(Kind::Refused, status.failure);
    }

    QByteArray readExactly(qsizetype count) {
        while (m_buffer.size() < count)
            readMore();
        const QByteArray head = m_buffer.left(count);
        m_buffer.remove(0, count);
        return head;
    }

    QByteArray readLengthPrefixed() {
        return next(decodeLengthPrefixed, QStringLiteral("the adb server sent a bad length")).data;
    }

    QByteArray readToEnd() {
        for (;;) {
            if (m_socket.state() != QAbstractSocket::ConnectedState &&
                m_socket.bytesAvailable() == 0)
                return m_buffer;
            if (!waitForData())
                return m_buffer;
        }
    }

private:
    // Reads until the decoder has a whole reply, and takes it from the buffer.
    template <typename Decoder>
    std::invoke_result_t<Decoder, QByteArrayView> next(Decoder decode, const QString& malformed) {
        for (;;) {
            auto reply = decode(m_buffer);
            if (reply.status == Decode::Malformed)
                throw TransportError(Kind::Malformed, malformed);
            if (reply.status == Decode::Complete) {
                m_buffer.remove(0, reply.consumed);
                return reply;
            }
            readMore();
        }
    }

    int remaining() const { return int(qMax<qint64>(0, m_deadline.remainingTime())); }

    [[noreturn]] void fail() {
        if (m_deadline.hasExpired() || m_socket.error() == QAbstractSocket::SocketTimeoutError)
            throw TransportError(
                Kind::TimedOut,
                QStringLiteral("no answer within %1 s").arg(m_limits.deadlineMs / 1000.0));
        throw TransportError(Kind::Closed, QStringLiteral("the connection was closed early"));
    }

    // Reads what has arrived; false once the peer has closed and nothing is left.
    bool waitForData() {
        if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(remaining())) {
            if (m_socket.state() == QAbstractSocket::ConnectedState || m_deadline.hasExpired())
                fail();
            if (m_socket.bytesAvailable() == 0)
                return false;
        }
        const qsizetype room = m_limits.maxBytes - m_buffer.size();
        if (m_socket.bytesAvailable() > room)
            throw TransportError(
                Kind::TooLarge,
                QStringLiteral("the device sent more than %1 KiB").arg(m_limits.maxBytes / 1024));
        m_buffer += m_socket.read(room);
        return true;
    }

    void readMore() {
        if (!waitForData())
            fail();
    }

    QTcpSocket m_socket;
    QDeadlineTimer m_deadline;
    Limits m_limits;
    QByteArray m_buffer;
};

// Switches a new connection over to the device, by "tport" where the server knows it.
std::unique_ptr<Connection> openDevice(const ServerAddress& server, const QString& serial,
                                       QDeadlineTimer deadline, const Limits& limits) {
    auto connection = std::make_unique<Connection>(server, deadline, limits);
    connection->send("host:tport:serial:" + serial.toUtf8());
    try {
        connection->expectOkay();
        connection->readExactly(8); // the transport id
        return connection;
    } catch (const TransportError& e) {
        // Servers before tport (protocol 41) do not know the service.
        if (e.kind() != Kind::Refused || !QString::fromUtf8(e.what()).contains(u"unknown host"))
            throw;
    }
    connection = std::make_unique<Connection>(server, deadline, limits);
    connection->send("host:transport:" + serial.toUtf8());
    connection->expectOkay();
    return connection;
}

QByteArray runDeviceCommand(const ServerAddress& server, const QString& serial,
                            const QByteArray& command, const Limits& limits,
                            QDeadlineTimer deadline) {
    for (const char* service : {"exec:", "shell:"}) {
        std::unique_ptr<Connection> connection = openDevice(server, serial, deadline, limits);
        connection->send(service + command);
        try {
            connection->expectOkay();
        } catch (const TransportError& e) {
            // Devices before Android 5 have no exec service and close the stream at once.
            if (e.kind() == Kind::Refused && qstrcmp(service, "exec:") == 0)
                continue;
            throw;
        }
        return connection->readToEnd();
    }
    throw TransportError(Kind::Refused, QStringLiteral("the device refused the command"));
}

} // namespace

QByteArray deviceService(const ServerAddress& server, const QString& serial,
                         const QByteArray& service, const Limits& limits) {
    std::unique_ptr<Connection> connection =
        openDevice(server, serial, QDeadlineTimer(limits.deadlineMs), limits);
    connection->send(service);
    connection->expectOkay();
    return connection->readToEnd();
}

QByteArray runDeviceCommand(const ServerAddress& server, const QString& serial,
                            const QByteArray& command, const Limits& limits) {
    return runDeviceCommand(server, serial, command, limits, QDeadlineTimer(limits.deadlineMs));
}

std::vector<CommandResult> runDeviceCommands(const ServerAddress& server, const QString& serial,
                                             const std::vector<QByteArray>& commands,
                                             const Limits& limits) {
    const QDeadlineTimer deadline(limits.deadlineMs);
    std::vector<CommandResult> results(commands.size());
    const auto runOne = [&](std::size_t i) {
        try {
            results[i].output = runDeviceCommand(server, serial, commands[i], limits, deadline);
        } catch (const TransportError& e) {
            results[i].error = e;
        } catch (const std::exception& e) { // out of memory: no answer either
            results[i].error = TransportError(Kind::Closed, QString::fromUtf8(e.what()));
        }
    };
    std::vector<QFuture<void>> others;
    for (std::size_t i = 1; i < commands.size(); ++i)
        others.push_back(QtConcurrent::run(static_cast<QThreadPool*>(commandPool()), runOne, i));
    if (!commands.empty())
        runOne(0);
    for (QFuture<void>& other : others)
        other.waitForFinished();
    return results;
}

QByteArray hostQuery(const ServerAddress& server, const QByteArray& service, const Limits& limits) {
    Connection connection(server, QDeadlineTimer(limits.deadlineMs), limits);
    connection.send(service);
    connection.expectOkay();
    return connection.readLengthPrefixed();
}

} // namespace adb
