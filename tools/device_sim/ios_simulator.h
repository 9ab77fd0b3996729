// Plays usbmuxd with one iPhone or iPad behind it, for libimobiledevice pointed here through
// USBMUXD_SOCKET_ADDRESS: the usbmuxd plist messages and the pairing record it keeps, and
// lockdownd behind "Connect" to port 62078, whose sessions are TLS with that record's
// certificates. What the device says and how far it trusts this computer come from a JSON
// profile.
#pragma once

#include "pairing_tls.h"

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
#include <vector>

class QTcpSocket;

namespace sim {

struct IosProfile {
    QString udid;
    // "trusted": paired already; "pending": the Trust prompt shows until "trust";
    // "locked": locked with a passcode; "unlock" brings up the Trust prompt, as an untrusted
    // device does once unlocked, with nothing said to usbmuxd's listeners; "denied": the user
    // tapped Don't Trust; "forgotten": a pair record here that the device no longer knows; "ssl":
    // a pair record whose root the device does not take for its session's TLS.
    QString trust = QStringLiteral("trusted");
    int latencyMs = 0; // each lockdownd reply
    // A session in TLS, as every device answers StartSession; off only where a test needs the
    // plain text.
    bool sessionSsl = true;
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
    // Several devices behind one usbmuxd; a profile given twice is two devices, the later one's
    // UDID ending in its number.
    explicit IosSimulator(std::vector<IosProfile> profiles, QObject* parent = nullptr);
    ~IosSimulator() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }

    // One control line, for the first device: "trust", "unlock", "deny", "unplug", "plug",
    // "close" (lockdownd's
    // connections), "hang", "resume",
    // "set KEY VALUE" (battery.level, name, latencyMs), "count" (lockdownd requests so far, as
    // JSON), "handshakes" (sessions that went TLS). Returns "ok", the count, or "error: ...".
    QString control(const QString& line);

private:
    // One device behind usbmuxd, and how far it trusts this computer.
    struct Device {
        IosProfile profile;
        quint32 id = 0; // usbmuxd's DeviceID
        bool plugged = true;
        bool hung = false;
        QString knownHostId;     // the host the device trusts
        Credentials credentials; // the device's certificate, and the record usbmuxd keeps
        QByteArray knownRoot;    // the root certificate of the host it trusts
        QByteArray savedRecord;
    };

    struct Connection {
        QPointer<QTcpSocket> socket;
        Device* device = nullptr; // the one Connect switched it to
        QByteArray buffer;
        bool lockdown = false;    // switched to lockdownd (or a service) by Connect
        bool diagnostics = false; // the diagnostics relay rather than lockdownd
        qint64 busyUntilMs = 0;   // a service answers one request after another
        bool listening = false;
        bool session = false;           // from StartSession to StopSession
        std::unique_ptr<TlsServer> tls; // lockdownd's session, from StartSession to its end
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void handleMux(Connection& connection, quint32 tag, const QByteArray& xml);
    void handleLockdown(Connection& connection, const QByteArray& xml);
    void handleDiagnostics(Connection& connection, const QByteArray& xml);
    // Sends MESSAGE after the profile's latency; STARTS_TLS: the connection turns to TLS once
    // it is out, as lockdownd's does after its StartSession answer.
    void reply(Connection& connection, const QJsonObject& message, bool startsTls = false);
    void sendMux(Connection& connection, quint32 tag, const QJsonObject& message,
                 const QHash<QString, QByteArray>& data = {});
    void sendResult(Connection& connection, quint32 tag, int number);
    void pushToListeners(const QJsonObject& message);
    QJsonObject attachedMessage(const Device& device) const;
    QByteArray pairRecord(const Device& device) const;
    Device* device(quint32 id) const;
    Device* device(const QString& udid) const;

    std::vector<std::unique_ptr<Device>> m_devices;
    QTcpServer m_server;
    QHash<QTcpSocket*, std::shared_ptr<Connection>> m_connections;
    QElapsedTimer m_clock;
    QHash<QString, int> m_requestCounts;
    int m_tlsSessions = 0; // handshakes completed
};

} // namespace sim
