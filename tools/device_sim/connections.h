// What both simulators do with the connections a host opens: keep each with its state until the
// host closes it, and hand over what arrives on it.
#pragma once

#include <QHash>
#include <QTcpSocket>

#include <memory>

namespace sim {

// Takes SOCKET into CONNECTIONS (a Connection has a `socket` member); ON_READ(socket) runs as
// data arrives, and the connection goes when the host closes it.
template <typename Connection, typename OnRead>
void track(QTcpSocket* socket, QHash<QTcpSocket*, std::shared_ptr<Connection>>& connections,
           QObject* context, OnRead onRead) {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto connection = std::make_shared<Connection>();
    connection->socket = socket;
    connections.insert(socket, connection);
    QObject::connect(socket, &QTcpSocket::readyRead, context, [socket, onRead] { onRead(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, context, [&connections, socket] {
        connections.remove(socket);
        socket->deleteLater();
    });
}

} // namespace sim
