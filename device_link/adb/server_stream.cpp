#include "device_link/adb/server_stream.h"

namespace adb {

ServerStream::ServerStream(QObject* parent) : QObject(parent) {
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        finish(End::TimedOut, QStringLiteral("the adb server accepted but did not answer"));
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket.write(encodeRequest(m_service));
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &ServerStream::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                const End why = m_socket.state() == QAbstractSocket::ConnectedState || m_accepted
                                    ? End::Closed
                                    : End::Unreachable;
                finish(why, m_socket.errorString(), error);
            });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        finish(End::Closed, QStringLiteral("the adb server closed the connection"));
    });
}

ServerStream::~ServerStream() {
    // The socket would report its own closing to members already gone.
    m_socket.disconnect(this);
    m_socket.abort();
}

void ServerStream::open(const ServerAddress& server, const QByteArray& service,
                        int answerTimeoutMs) {
    close();
    m_service = service;
    m_open = true;
    m_answerTimer.start(answerTimeoutMs);
    m_socket.connectToHost(server.host, server.port);
}

void ServerStream::close() {
    m_open = false;
    m_accepted = false;
    m_answerTimer.stop();
    m_buffer.clear();
    m_socket.abort();
}

void ServerStream::onReadyRead() {
    m_buffer += m_socket.readAll();
    if (!m_accepted) {
        const Status status = decodeStatus(m_buffer);
        if (status.status == Decode::NeedMore)
            return;
        if (status.status == Decode::Malformed)
            return finish(End::Malformed,
                          QStringLiteral("the adb server sent a reply it should not"));
        if (!status.okay)
            return finish(End::Refused, status.failure);
        m_buffer.remove(0, status.consumed);
        m_accepted = true;
        m_answerTimer.stop();
        emit accepted();
        if (!m_open)
            return;
    }
    // Frames are at most 64 KiB, so the buffer stays bounded whatever the server sends.
    while (m_open) {
        const Payload payload = decodeLengthPrefixed(m_buffer);
        if (payload.status == Decode::NeedMore)
            return;
        if (payload.status == Decode::Malformed)
            return finish(End::Malformed, QStringLiteral("the adb server sent a bad length"));
        m_buffer.remove(0, payload.consumed);
        emit frame(payload.data); // a receiver may close the stream
    }
}

void ServerStream::finish(End why, const QString& message,
                          QAbstractSocket::SocketError socketError) {
    if (!m_open)
        return;
    close();
    emit ended(why, message, socketError);
}

} // namespace adb
