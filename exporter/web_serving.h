// A web configuration as the exporter serves it: the TLS configuration each new connection
// takes, the check of a client's certificate, and the passwords; read again, whole, when the
// file or one it names changes, as the exporter-toolkit re-reads its files.
#pragma once

#include "exporter/password_check.h"
#include "exporter/web_config.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>

#include <functional>
#include <memory>
#include <optional>

namespace exporter {

// What serves the next connection or request; swapped whole for a renewal.
struct Serving {
    explicit Serving(WebConfig config);
    WebConfig config;
    QSslConfiguration ssl; // where config.tls
    PasswordCheck passwords;
};

// The TLS a server of TLS takes. Clients are asked for a certificate where the file asks, but
// the handshake never checks it: clientRefusal does, after it, as the file says.
QSslConfiguration sslConfiguration(const TlsSettings& tls);

// Why a client whose certificates are CHAIN (its own first; empty: none) may not in; empty
// where it may.
QString clientRefusal(const TlsSettings& tls, const QList<QSslCertificate>& chain);

// ADDRESS, an IPv4 address written in IPv6 form ("::ffff:10.0.0.1") as IPv4.
QHostAddress unmapped(const QHostAddress& address);

class WebConfigSource {
public:
    using Say = std::function<void(const QString&)>;
    using Load = std::function<WebConfigResult(const QString&)>;
    // Reads PATH now, through LOAD; SAY tells what a renewal brought, and why a client was
    // refused.
    WebConfigSource(QString path, Say say, Load load = loadWebConfig);

    // Why the first read cannot be served, in one line; empty where it can.
    const QString& refusal() const { return m_refusal; }

    // The configuration for the next connection or request: read again where one of the files
    // its last read named changed, or changed while it was read. A renewal that is broken keeps
    // the last good one, and is said once. One that takes protection away (a file written in
    // place, read half written, may) is taken only once its files have stayed the same for
    // SETTLE_MS, and said when it begins to wait and when it is taken.
    std::shared_ptr<Serving> current();

    static constexpr qint64 kSettleMs = 2000;

    // Says why the client at PEER was refused, at most once a minute for each reason.
    void refused(const QHostAddress& peer, const QString& why);

private:
    // What serves now: the renewal waiting, once it has stayed the same long enough.
    std::shared_ptr<Serving> settled();

    QString m_path;
    Say m_say;
    Load m_load;
    std::shared_ptr<Serving> m_serving;
    QStringList m_watched; // what the last read named, good or broken
    QByteArray m_stamp;    // of m_watched before that read; empty: read again
    QString m_said;        // the last broken renewal said
    QString m_refusal;
    // A renewal that takes protection away, while it waits; the stamp of its files, and since
    // when they have been so.
    std::optional<WebConfig> m_weaker;
    QByteArray m_weakerStamp;
    qint64 m_weakerSince = 0;
    QHash<QString, qint64> m_refusalsSaid; // by reason, when, in ms of m_clock
    QElapsedTimer m_clock;
};

} // namespace exporter
