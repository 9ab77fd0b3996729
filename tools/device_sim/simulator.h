// Plays an Android device on a loopback TCP port for "adb connect": answers the host's CNXN,
// opens streams for exec: and shell: commands and writes their output as the device would.
#pragma once

#include "adb_message.h"
#include "device_profile.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

namespace sim {

// How many bytes a dripping command sends, one each 100 ms, before it ends.
inline constexpr int kDripBytes = 80;

class Simulator : public QObject {
    Q_OBJECT
public:
    enum class Mode { Normal, Hung, Vanished, Flooding, Dripping };

    explicit Simulator(DeviceProfile profile, QObject* parent = nullptr);
    ~Simulator() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return m_port; }

    // One control line: "set KEY VALUE" ("set prop.ro.serialno R58M"), "vanish", "hang",
    // "flood", "drip", "malformed", "resume", "count" (the commands run so far, as one line of
    // JSON), "unplug" and "plug" (its first port, as a cable), "wifi off" and "wifi on" (the
    // port "tcpip:PORT" opened). Returns a reply line ("ok", the count, or "error: ...").
    QString control(const QString& line);

private:
    struct Stream {
        quint32 localId = 0;
        quint32 remoteId = 0;
        QByteArray pending; // output not yet written
        bool awaitingOkay = false;
        bool endless = false; // writes until the host closes the stream
        bool ready = true;    // the command has finished and its output is pending
        int dripped = 0;      // bytes sent in the dripping mode
    };
    struct Connection {
        QPointer<QTcpSocket> socket;
        bool wifi = false; // came through the port "tcpip:PORT" opened
        QByteArray buffer;
        quint32 maxPayload = kMaxPayload;
        QHash<quint32, Stream> streams; // by our local id
    };

    void onNewConnection(QTcpServer& server);
    // As adbd after "tcpip:PORT": listening on PORT too.
    void listenOnTcp(quint16 port);
    void onReadyRead(QTcpSocket* socket);
    void handle(Connection& connection, const Message& message);
    void sendNext(Connection& connection, Stream& stream);
    // Runs a stream's timed step later, if its connection and the stream are still there.
    template <typename Step>
    void later(int ms, const Connection& connection, quint32 localId, Step step);
    void drip(Connection& connection, Stream& stream);
    void send(Connection& connection, const Message& message);
    void sendAuthToken(Connection& connection);
    void dropAll();

    DeviceProfile m_profile;
    QTcpServer m_server;
    quint16 m_port = 0; // of m_server, kept while it is unplugged
    QTcpServer m_wifi;  // what "tcpip:PORT" opened
    quint16 m_wifiPort = 0;
    Mode m_mode = Mode::Normal;
    quint32 m_nextId = 1;
    QHash<QTcpSocket*, std::shared_ptr<Connection>> m_connections;
    QMap<QString, int> m_commandCounts;
};

} // namespace sim
