// A web configuration as the exporter serves it: the TLS configuration each new connection
// takes, the check of a client's certificate, and the passwords; read again, whole, when the
// file or one it names changes, as the exporter-toolkit re-reads its files.
#pragma once

#include "exporter/password_check.h"
#include "exporter/web_config.h"

#include <QSslConfiguration>

#include <functional>
#include <memory>

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

class WebConfigSource {
public:
    using Say = std::function<void(const QString&)>;
    // FIRST was read from PATH just now; SAY tells what a renewal brought.
    WebConfigSource(QString path, WebConfig first, Say say);

    // The configuration for the next connection or request: read again where one of its files
    // changed. A renewal that is broken keeps the last good one, and is said once.
    std::shared_ptr<Serving> current();

private:
    QByteArray stamp(const QStringList& files) const;

    QString m_path;
    Say m_say;
    std::shared_ptr<Serving> m_serving;
    QByteArray m_stamp; // of the files as last read, good or broken
};

} // namespace exporter
