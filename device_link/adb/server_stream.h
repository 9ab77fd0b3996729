// An asynchronous request to the adb server whose answer is a run of length-prefixed frames:
// "host:track-devices-l" (frames until the server goes) or "host:devices-l" (one frame).
#pragma once

#include "device_link/adb/adb_protocol.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace adb {

class ServerStream : public QObject {
    Q_OBJECT
public:
    enum class End { Unreachable, Refused, Closed, Malformed, TimedOut };

    explicit ServerStream(QObject* parent = nullptr);
    ~ServerStream() override;
    Q_DISABLE_COPY_MOVE(ServerStream)

    // Connects and sends the service; the server must say OKAY within answerTimeoutMs.
    void open(const ServerAddress& server, const QByteArray& service, int answerTimeoutMs);
    // Ends the stream without a signal.
    void close();
    bool isOpen() const { return m_open; }

signals:
    void accepted();
    void frame(const QByteArray& payload);
    // Once per open, unless close() came first. socketError tells a refused connection apart.
    void ended(adb::ServerStream::End why, const QString& message,
               QAbstractSocket::SocketError socketError);

private:
    void onReadyRead();
    void finish(End why, const QString& message,
                QAbstractSocket::SocketError socketError = QAbstractSocket::UnknownSocketError);

    QTcpSocket m_socket;
    QTimer m_answerTimer;
    QByteArray m_service;
    QByteArray m_buffer;
    bool m_open = false;
    bool m_accepted = false;
};

} // namespace adb
