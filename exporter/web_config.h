// The web configuration file that node_exporter and the Prometheus server read with
// --web.config.file: TLS with client certificates, HTTP headers, and users with bcrypt hashes.
// The file, and every certificate and key it names, is read and checked whole into a plain
// struct; the server asks that struct, never the file.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslEllipticCurve>
#include <QSslKey>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace exporter {

// Who must show a certificate, and whether it must come from the client CA: Go's ClientAuthType,
// whose names the file uses.
enum class ClientAuth { None, Request, RequireAny, VerifyIfGiven, RequireAndVerify };

struct TlsSettings {
    QList<QSslCertificate> chain; // this server's certificate first
    QSslKey key;
    ClientAuth clientAuth = ClientAuth::None;
    QList<QSslCertificate> clientCas; // empty: the system's CAs, where a certificate is verified
    QStringList allowedSans;          // empty: any
    QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater;
    int minVersion = 2;        // of protocol: 1.0 is 0
    QList<QSslCipher> ciphers; // for TLS 1.2 and before; empty: OpenSSL's own
    bool preferServerCiphers = true;
    QList<QSslEllipticCurve> curves; // empty: OpenSSL's own
};

// One token bucket for the whole server, as golang.org/x/time/rate keeps it: a token each
// interval, at most BURST kept.
struct RateLimit {
    qint64 intervalNs = 0; // 0: no limit
    int burst = 0;
};

struct WebConfig {
    std::optional<TlsSettings> tls; // none: plain HTTP
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    std::map<QByteArray, QByteArray> users; // name, bcrypt hash; empty: no password asked
    RateLimit rateLimit;
    // Every file it was read from (itself, certificates, key, CA): a change to one is a renewal.
    QStringList files;
};

// What is wrong with a file: the key, as a dotted path ("tls_server_config.key_file"), and why.
struct WebConfigError {
    QString key;
    QString reason;
    // The files it named up to what is wrong, whether they could be read or not: one written
    // later may mend it.
    QStringList files = {};
};

using WebConfigResult = std::variant<WebConfig, WebConfigError>;

// The file at PATH, with the files it names relative to its folder.
WebConfigResult loadWebConfig(const QString& path);
// YAML as a web configuration file holds it; names of files are taken relative to DIRECTORY.
WebConfigResult parseWebConfig(const QByteArray& yaml, const QString& directory);

// A Go duration ("1s", "1m30s", "250ms", "0"), or a whole number of nanoseconds, as Go's YAML
// reads a time.Duration; none where TEXT is neither, or negative.
std::optional<qint64> goDurationNs(const QString& text);

// What a renewal from FROM to TO takes away, each in a few words ("passwords", "the rate
// limit"): a check FROM makes that TO does not, or makes more leniently, as a file written in
// place and read before its end would. Empty where TO keeps or adds protection.
QStringList protectionTaken(const WebConfig& from, const WebConfig& to);

// The one line that says what is wrong with the file at PATH.
QString describe(const QString& path, const WebConfigError& error);

} // namespace exporter
