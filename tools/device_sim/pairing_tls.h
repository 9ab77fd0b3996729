// What a paired iPhone holds: the certificates of a pairing record, made here as a device and
// its computer make them, and the TLS that lockdownd speaks once a session starts. OpenSSL on
// memory buffers, so that a connection can turn TLS on and off again as lockdownd does.
#pragma once

#include <QByteArray>

#include <memory>

namespace sim {

// PEM texts, as a pairing record carries them.
struct Credentials {
    QByteArray rootCertificate, rootPrivateKey;
    QByteArray hostCertificate, hostPrivateKey;
    QByteArray deviceCertificate, devicePrivateKey;
};

// A root, a host certificate and a device certificate, both signed by the root, with their RSA
// keys; empty members where OpenSSL failed.
Credentials makeCredentials();

// lockdownd's side of a session's TLS: the device's certificate, and the computer's root as the
// only client certificate it takes (any other fails the handshake, as a record the device no
// longer knows does). TLS 1.2 at most, so that a refused client learns it in its handshake.
class TlsServer {
public:
    TlsServer(const QByteArray& certificate, const QByteArray& privateKey,
              const QByteArray& trustedClient);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    struct Fed {
        QByteArray toSend;        // handshake records, to go out as they are
        bool established = false; // the handshake completed with these bytes
        QByteArray plaintext;     // what the client said
        bool closed = false;      // it ended TLS (close_notify): what follows is plain again
        QByteArray after;         // the plain bytes that came after that
        bool failed = false;      // the handshake or a record failed: drop the connection
    };
    // Bytes from the client.
    Fed feed(const QByteArray& bytes);
    // A message to the client, as records.
    QByteArray encrypt(const QByteArray& plaintext);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace sim
