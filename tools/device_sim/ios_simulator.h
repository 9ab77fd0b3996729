// Plays usbmuxd with one iPhone or iPad behind it, for libimobiledevice pointed here through
// USBMUXD_SOCKET_ADDRESS: the usbmuxd plist messages, and lockdownd behind "Connect" to port
// 62078 without session encryption. What the device says and how far it trusts this computer
// come from a JSON profile.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <optional>

class QTcpSocket;

namespace sim {

struct IosProfile {
    QString udid;
    // "trusted": paired already; "pending": the Trust prompt shows until "trust";
    // "locked": locked with a passcode; "unlock" brings up the Trust prompt, as an untrusted
    // device does once unlocked, with nothing said to usbmuxd's listeners; "denied": the user
    // tapped Don't Trust; "forgotten": a pair record here that the device no longer knows; "ssl":
    // the device asks for an encrypted session that the pair record cannot make.
    QString trust = QStringLiteral("trusted");
    int latencyMs = 0; // each lockdownd reply
    // StartSession on top: a real device's session is TLS, whose handshake this one skips.
    int sessionMs = 0;
    QJsonObject domains;  // "" is the general domain; values as lockdownd gives them
    QJsonObject registry; // the battery's IORegistry entry; empty: no diagnostics relay
    // How the relay finds that entry: "both" by its class and its name, "class" by its class
    // only, as from iOS 17.4 on.
    QString registryBy = QStringLiteral("both");
};

// Reads a profile; nullopt with a reason in error when it is not one.
std::optional<IosProfile> iosProfileFromJson(const QByteArray& json, QString* error = nullptr);

class IosSimulator : public QObject {
    Q_OBJECT
public:
    explicit IosSimulator(IosProfile profile, QObject* parent = nullptr);
    ~IosSimulator() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }

    // One control line: "trust", "unlock", "deny", "unplug", "plug", "hang", "resume",
    // "set KEY VALUE" (battery.level, name, latencyMs, sessionMs), "count" (lockdownd requests so
    // far, as JSON). Returns "ok", the count, or "error: ...".
    QString control(const QString& line);

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        bool lockdown = false;    // switched to lockdownd (or a service) by Connect
        bool diagnostics = false; // the diagnostics relay rather than lockdownd
        qint64 busyUntilMs = 0;   // a service answers one request after another
        bool listening = false;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void handleMux(Connection& connection, quint32 tag, const QByteArray& xml);
    void handleLockdown(Connection& connection, const QByteArray& xml);
    void handleDiagnostics(Connection& connection, const QByteArray& xml);
    void reply(Connection& connection, const QJsonObject& message, int extraMs = 0);
    void sendMux(Connection& connection, quint32 tag, const QJsonObject& message,
                 const QHash<QString, QByteArray>& data = {});
    void sendResult(Connection& connection, quint32 tag, int number);
    void pushToListeners(const QJsonObject& message);
    QJsonObject attachedMessage() const;
    QByteArray pairRecord() const;

    IosProfile m_profile;
    QTcpServer m_server;
    QHash<QTcpSocket*, std::shared_ptr<Connection>> m_connections;
    QElapsedTimer m_clock;
    bool m_plugged = true;
    bool m_hung = false;
    QString m_knownHostId; // the host the device trusts
    QByteArray m_savedRecord;
    QHash<QString, int> m_requestCounts;
};

} // namespace sim
