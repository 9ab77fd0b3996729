#include "exporter/web_config.h"

#include "device_link/device_facts.h"
#include "exporter/password_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace exporter {
namespace {

// Far more than any web configuration, certificate chain or key needs.
constexpr qint64 kMaxFileBytes = 1 << 20;

struct Refusal {
    WebConfigError error;
};

// The files a read names, as it names them: kept with a refusal too.
struct Named {
    QStringList files;
};

[[noreturn]] void refuse(const QString& key, const QString& reason) {
    throw Refusal{{key, reason}};
}

QString joined(const QString& parent, const QString& key) {
    return parent.isEmpty() ? key : parent + u'.' + key;
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString where(const YAML::Node& node) {
    const YAML::Mark mark = node.Mark();
    return mark.line >= 0 ? QStringLiteral(" (line %1)").arg(mark.line + 1) : QString();
}

QString scalar(const YAML::Node& node, const QString& key) {
    if (!node.IsScalar())
        refuse(key, QStringLiteral("must be a string") + where(node));
    return text(node.Scalar());
}

bool boolean(const YAML::Node& node, const QString& key) {
    const QString value = node.IsScalar() ? scalar(node, key).toLower() : QString();
    if (value != QLatin1String("true") && value != QLatin1String("false"))
        refuse(key, QStringLiteral("must be true or false") + where(node));
    return value == QLatin1String("true");
}

QStringList strings(const YAML::Node& node, const QString& key) {
    if (node.IsNull())
        return {};
    if (!node.IsSequence())
        refuse(key, QStringLiteral("must be a list of strings") + where(node));
    QStringList out;
    for (const YAML::Node& item : node)
        out << scalar(item, key);
    return out;
}

// Each key of a mapping, once, of those KNOWN; a null value is an empty mapping.
template <typename Take>
void eachKey(const YAML::Node& node, const QString& at, std::initializer_list<const char*> known,
             Take take) {
    if (node.IsNull())
        return;
    if (!node.IsMap())
        refuse(at, QStringLiteral("must be a mapping of keys to values") + where(node));
    std::set<std::string> seen;
    for (const auto& entry : node) {
        const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : std::string();
        const QString path = joined(at, text(key));
        if (std::none_of(known.begin(), known.end(), [&key](const char* k) { return key == k; }))
            refuse(path, QStringLiteral("is not a key of this file") + where(entry.first));
        if (!seen.insert(key).second)
            refuse(path, QStringLiteral("is given twice") + where(entry.first));
        take(key, entry.second, path);
    }
}

QByteArray readFile(const QString& path, const QString& key) {
    // Opened without waiting: a FIFO put in a file's place would hold the server until someone
    // wrote to it. Only a regular file is read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat s = {};
    if (fd < 0 || ::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        const QString why = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                   : QStringLiteral("not a regular file");
        if (fd >= 0)
            ::close(fd);
        refuse(key, QStringLiteral("cannot read %1 (%2)").arg(path, why));
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (file.size() > kMaxFileBytes)
        refuse(key, QStringLiteral("%1 is larger than 1 MiB").arg(path));
    return file.read(kMaxFileBytes);
}

// A PEM text given in the file (KEY) or in a file it names (FILE_KEY), never both.
struct Pem {
    QByteArray data;
    QString key;  // where it was given
    QString file; // the file it came from; empty for one given inline
};

std::optional<Pem> pem(const std::optional<QString>& inlineText, const QString& inlineKey,
                       const std::optional<QString>& file, const QString& fileKey,
                       const QString& directory, Named& named) {
    if (inlineText && file)
        refuse(fileKey, QStringLiteral("is given with %1; give only one").arg(inlineKey));
    if (inlineText)
        return Pem{inlineText->toUtf8(), inlineKey, {}};
    if (!file)
        return std::nullopt;
    if (file->isEmpty())
        refuse(fileKey, QStringLiteral("names no file"));
    const QString path = QDir::cleanPath(QDir(directory).filePath(*file));
    named.files << path;
    return Pem{readFile(path, fileKey), fileKey, path};
}

QList<QSslCertificate> certificates(const Pem& pem) {
    QList<QSslCertificate> found = QSslCertificate::fromData(pem.data, QSsl::Pem);
    found.removeIf([](const QSslCertificate& c) { return c.isNull(); });
    if (found.isEmpty())
        refuse(pem.key, pem.file.isEmpty()
                            ? QStringLiteral("holds no PEM certificate")
                            : QStringLiteral("%1 holds no PEM certificate").arg(pem.file));
    return found;
}

QSslKey privateKey(const Pem& pem) {
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem.data, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    refuse(pem.key, QStringLiteral("%1 holds no unencrypted PEM private key (RSA, EC or DSA)")
                        .arg(pem.file.isEmpty() ? QStringLiteral("it") : pem.file));
}

// Whether the private key in KEY_PEM belongs to the first certificate in CERTIFICATE_PEM.
bool keyMatches(const QByteArray& certificatePem, const QByteArray& keyPem) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> certBio(
        BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())), BIO_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
        BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())), BIO_free);
    if (!certBio || !keyBio)
        return false;
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    return cert && key && X509_check_private_key(cert.get(), key.get()) == 1;
}

int tlsVersion(const QString& name, const QString& key) {
    static const char* const names[] = {"TLS10", "TLS11", "TLS12", "TLS13"};
    for (int i = 0; i < 4; ++i) {
        if (name == QLatin1String(names[i]))
            return i;
    }
    refuse(key, QStringLiteral("'%1' is not TLS10, TLS11, TLS12 or TLS13").arg(name));
}

// Qt holds a server to one version, or to one version and every later one.
QSsl::SslProtocol protocol(int min, std::optional<int> max) {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    static const QSsl::SslProtocol orLater[] = {QSsl::TlsV1_0OrLater, QSsl::TlsV1_1OrLater,
                                                QSsl::TlsV1_2OrLater, QSsl::TlsV1_3OrLater};
    static const QSsl::SslProtocol exactly[] = {QSsl::TlsV1_0, QSsl::TlsV1_1, QSsl::TlsV1_2,
                                                QSsl::TlsV1_3};
    QT_WARNING_POP
    if (max && *max < min)
        refuse(QStringLiteral("tls_server_config.max_version"),
               QStringLiteral("is below min_version"));
    if (!max || *max == 3)
        return orLater[min];
    if (*max == min)
        return exactly[min];
    refuse(QStringLiteral("tls_server_config.max_version"),
           QStringLiteral("below TLS13 must equal min_version: Qt's TLS serves one version, or a "
                          "version and every later one"));
}

// The suites Go's tls.CipherSuites() names for TLS 1.2 and before, as OpenSSL names them.
const std::pair<const char*, const char*> kCiphers[] = {
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA", "ECDHE-ECDSA-AES128-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA", "ECDHE-ECDSA-AES256-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA", "ECDHE-RSA-AES128-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA", "ECDHE-RSA-AES256-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-ECDSA-CHACHA20-POLY1305"},
};
// TLS 1.3's own, which Go accepts in the list and never lets anyone choose.
const char* const kTls13Ciphers[] = {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384",
                                     "TLS_CHACHA20_POLY1305_SHA256"};

QList<QSslCipher> ciphers(const QStringList& names, const QString& key) {
    QList<QSslCipher> out;
    for (const QString& name : names) {
        const auto found = std::find_if(std::begin(kCiphers), std::end(kCiphers),
                                        [&name](const auto& c) { return name == c.first; });
        if (found == std::end(kCiphers)) {
            if (std::any_of(std::begin(kTls13Ciphers), std::end(kTls13Ciphers),
                            [&name](const char* c) { return name == QLatin1String(c); }))
                continue;
            refuse(
                key,
                QStringLiteral("'%1' is not a cipher suite of Go's tls.CipherSuites()").arg(name));
        }
        const QSslCipher cipher(QString::fromLatin1(found->second));
        if (cipher.isNull())
            refuse(key, QStringLiteral("'%1' is not offered by this computer's OpenSSL").arg(name));
        out << cipher;
    }
    return out;
}

QList<QSslEllipticCurve> curves(const QStringList& names, const QString& key) {
    static const std::pair<const char*, const char*> known[] = {{"CurveP256", "prime256v1"},
                                                                {"CurveP384", "secp384r1"},
                                                                {"CurveP521", "secp521r1"},
                                                                {"X25519", "X25519"}};
    QList<QSslEllipticCurve> out;
    for (const QString& name : names) {
        const auto found = std::find_if(std::begin(known), std::end(known),
                                        [&name](const auto& c) { return name == c.first; });
        const QSslEllipticCurve curve = found == std::end(known)
                                            ? QSslEllipticCurve()
                                            : QSslEllipticCurve::fromShortName(found->second);
        if (!curve.isValid())
            refuse(
                key,
                QStringLiteral("'%1' is not CurveP256, CurveP384, CurveP521 or X25519").arg(name));
        out << curve;
    }
    return out;
}

ClientAuth clientAuth(const QString& name, const QString& key) {
    static const std::pair<const char*, ClientAuth> known[] = {
        {"", ClientAuth::None},
        {"NoClientCert", ClientAuth::None},
        {"RequestClientCert", ClientAuth::Request},
        {"RequireAnyClientCert", ClientAuth::RequireAny},
        {"RequireClientCert", ClientAuth::RequireAny}, // the name older exporters took
        {"VerifyClientCertIfGiven", ClientAuth::VerifyIfGiven},
        {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerify}};
    for (const auto& [word, value] : known) {
        if (name == QLatin1String(word))
            return value;
    }
    refuse(key, QStringLiteral("'%1' is not NoClientCert, RequestClientCert, "
                               "RequireAnyClientCert, VerifyClientCertIfGiven or "
                               "RequireAndVerifyClientCert")
                    .arg(name));
}

TlsSettings tlsSettings(const YAML::Node& node, const QString& directory, Named& named) {
    const QString at = QStringLiteral("tls_server_config");
    std::optional<QString> cert, key, clientCa, certFile, keyFile, clientCaFile, minVersion,
        maxVersion, authType;
    QStringList sans, suites, curveNames;
    bool preferServer = true;
    bool sansGiven = false;
    eachKey(node, at,
            {"cert", "key", "client_ca", "cert_file", "key_file", "client_ca_file",
             "client_auth_type", "client_allowed_sans", "min_version", "max_version",
             "cipher_suites", "prefer_server_cipher_suites", "curve_preferences"},
            [&](const std::string& k, const YAML::Node& value, const QString& path) {
                const std::pair<const char*, std::optional<QString>*> texts[] = {
                    {"cert", &cert},
                    {"key", &key},
                    {"client_ca", &clientCa},
                    {"cert_file", &certFile},
                    {"key_file", &keyFile},
                    {"client_ca_file", &clientCaFile},
                    {"min_version", &minVersion},
                    {"max_version", &maxVersion},
                    {"client_auth_type", &authType}};
                for (const auto& [name, target] : texts) {
                    if (k == name)
                        *target = scalar(value, path);
                }
                if (k == "client_allowed_sans") {
                    sans = strings(value, path);
                    sansGiven = true;
                } else if (k == "cipher_suites") {
                    suites = strings(value, path);
                } else if (k == "curve_preferences") {
                    curveNames = strings(value, path);
                } else if (k == "prefer_server_cipher_suites") {
                    preferServer = boolean(value, path);
                }
            });

    TlsSettings tls;
    const auto certPem = pem(cert, at + QStringLiteral(".cert"), certFile,
                             at + QStringLiteral(".cert_file"), directory, named);
    const auto keyPem = pem(key, at + QStringLiteral(".key"), keyFile,
                            at + QStringLiteral(".key_file"), directory, named);
    if (!certPem)
        refuse(at + QStringLiteral(".cert_file"),
               QStringLiteral("is missing: TLS needs a "
                              "certificate (cert_file or cert)"));
    if (!keyPem)
        refuse(at + QStringLiteral(".key_file"),
               QStringLiteral("is missing: TLS needs a private key (key_file or key)"));
    tls.chain = certificates(*certPem);
    tls.key = privateKey(*keyPem);
    if (!keyMatches(certPem->data, keyPem->data))
        refuse(keyPem->key, QStringLiteral("does not match the certificate in %1")
                                .arg(certPem->file.isEmpty() ? certPem->key : certPem->file));
    const auto caPem = pem(clientCa, at + QStringLiteral(".client_ca"), clientCaFile,
                           at + QStringLiteral(".client_ca_file"), directory, named);

    const QString authKey = at + QStringLiteral(".client_auth_type");
    tls.clientAuth = clientAuth(authType.value_or(QString()), authKey);
    if (caPem) {
        tls.clientCas = certificates(*caPem);
        // As the exporter-toolkit: with a type that asks for a certificate but checks none, the
        // CA only names what a client should show.
        if (tls.clientAuth == ClientAuth::None)
            refuse(caPem->key, QStringLiteral("needs a client_auth_type other than NoClientCert: "
                                              "with none, no client is asked for a "
                                              "certificate"));
    }
    // Without a client CA a certificate is verified against the system's CAs, as Go does with
    // no ClientCAs: node_exporter's own plain TLS example asks for VerifyClientCertIfGiven alone.
    if (sansGiven) {
        // Any other type lets a client in without a certificate, and so without a SAN.
        if (tls.clientAuth != ClientAuth::RequireAny &&
            tls.clientAuth != ClientAuth::RequireAndVerify)
            refuse(at + QStringLiteral(".client_allowed_sans"),
                   QStringLiteral("needs client_auth_type RequireAnyClientCert or "
                                  "RequireAndVerifyClientCert"));
        tls.allowedSans = sans;
    }
    const int min = minVersion ? tlsVersion(*minVersion, at + QStringLiteral(".min_version")) : 2;
    const std::optional<int> max =
        maxVersion
            ? std::optional<int>(tlsVersion(*maxVersion, at + QStringLiteral(".max_version")))
            : std::nullopt;
    tls.protocol = protocol(min, max);
    tls.minVersion = min;
    tls.ciphers = ciphers(suites, at + QStringLiteral(".cipher_suites"));
    tls.preferServerCiphers = preferServer;
    tls.curves = curves(curveNames, at + QStringLiteral(".curve_preferences"));
    return tls;
}

// The values the format allows, where it limits them.
struct Limited {
    const char* header;
    QStringList values;
};
const Limited kLimited[] = {
    {"X-Frame-Options", {QStringLiteral("deny"), QStringLiteral("sameorigin")}},
    {"X-Content-Type-Options", {QStringLiteral("nosniff")}}};

RateLimit rateLimit(const YAML::Node& node) {
    const QString at = QStringLiteral("rate_limit");
    RateLimit out;
    std::optional<int> burst;
    eachKey(node, at, {"interval", "burst"},
            [&](const std::string& key, const YAML::Node& value, const QString& path) {
                const QString said = scalar(value, path);
                if (key == "interval") {
                    const std::optional<qint64> ns = goDurationNs(said);
                    if (!ns)
                        refuse(path, QStringLiteral("'%1' is not a duration such as 1s or "
                                                    "100ms")
                                             .arg(said) +
                                         where(value));
                    out.intervalNs = *ns;
                } else {
                    bool ok = false;
                    burst = said.toInt(&ok);
                    if (!ok || *burst < 0)
                        refuse(path,
                               QStringLiteral("must be a whole number from 0") + where(value));
                }
            });
    out.burst = burst.value_or(0);
    // Go's limiter with no burst lets nothing through: a file that shuts every client out.
    if (out.intervalNs > 0 && out.burst < 1)
        refuse(at + QStringLiteral(".burst"),
               QStringLiteral("must be at least 1 where interval is given: with none, every "
                              "request would be refused"));
    return out;
}

void httpServerConfig(const YAML::Node& node, WebConfig& out) {
    eachKey(node, QStringLiteral("http_server_config"), {"http2", "headers"},
            [&](const std::string& key, const YAML::Node& value, const QString& path) {
                if (key == "http2") {
                    boolean(value, path); // taken and checked; HTTP/1.1 is what is served
                    return;
                }
                eachKey(value, path,
                        {"Content-Security-Policy", "X-Frame-Options", "X-Content-Type-Options",
                         "X-XSS-Protection", "Strict-Transport-Security"},
                        [&](const std::string& name, const YAML::Node& v, const QString& at) {
                            const QString said = scalar(v, at);
                            // A line break would end the header and begin one of its own.
                            if (std::any_of(said.begin(), said.end(),
                                            [](QChar c) { return c.unicode() < 0x20; }))
                                refuse(at, QStringLiteral("holds a control character"));
                            for (const Limited& limited : kLimited) {
                                if (name == limited.header &&
                                    !limited.values.contains(said, Qt::CaseInsensitive))
                                    refuse(at,
                                           QStringLiteral("must be %1")
                                               .arg(limited.values.join(QStringLiteral(" or "))));
                            }
                            // Unset if blank, as the format says.
                            if (!said.isEmpty())
                                out.headers.push_back({QByteArray(name.c_str()), said.toUtf8()});
                        });
            });
}

WebConfig webConfig(const YAML::Node& root, const QString& directory, Named& named) {
    WebConfig out;
    // An empty file is a null root, which asks for nothing.
    eachKey(root, {}, {"tls_server_config", "http_server_config", "basic_auth_users", "rate_limit"},
            [&](const std::string& key, const YAML::Node& value, const QString& path) {
                if (key == "tls_server_config") {
                    out.tls = tlsSettings(value, directory, named);
                } else if (key == "rate_limit") {
                    out.rateLimit = rateLimit(value);
                } else if (key == "http_server_config") {
                    httpServerConfig(value, out);
                } else if (!value.IsNull() && !value.IsMap()) {
                    refuse(path, QStringLiteral("must be a mapping of user names to bcrypt "
                                                "hashes") +
                                     where(value));
                }
            });
    if (const YAML::Node users = root["basic_auth_users"]; users && users.IsMap()) {
        std::set<std::string> seen;
        for (const auto& entry : users) {
            const QString name = scalar(entry.first, QStringLiteral("basic_auth_users"));
            const QString at = QStringLiteral("basic_auth_users.") + name;
            if (!seen.insert(entry.first.Scalar()).second)
                refuse(at, QStringLiteral("is given twice") + where(entry.first));
            // Basic authentication ends the user's name at its first colon.
            if (name.contains(u':') || name.isEmpty())
                refuse(at, QStringLiteral("is not a name Basic authentication can carry"));
            const QByteArray hash = scalar(entry.second, at).toUtf8();
            if (!isBcryptHash(hash))
                refuse(at, QStringLiteral("is not a bcrypt hash ($2a$, $2b$ or $2y$, cost 4 to "
                                          "31, 60 characters)"));
            out.users.emplace(name.toUtf8(), hash);
        }
    }
    out.files = named.files;
    return out;
}

} // namespace

WebConfigResult parseWebConfig(const QByteArray& yaml, const QString& directory) {
    // A key tried as RSA before it reads as EC leaves errors on OpenSSL's queue for this thread,
    // where the next TLS read of a client's connection would take them for its own.
    const auto clean = qScopeGuard([] { ERR_clear_error(); });
    Named named;
    try {
        return webConfig(YAML::Load(yaml.toStdString()), directory, named);
    } catch (Refusal& r) {
        r.error.files = named.files;
        return r.error;
    } catch (const YAML::Exception& e) {
        return WebConfigError{{},
                              QStringLiteral("is not YAML: %1 (line %2)")
                                  .arg(device::printable(QString::fromStdString(e.msg), 200))
                                  .arg(e.mark.line + 1)};
    }
}

WebConfigResult loadWebConfig(const QString& path) {
    const QString self = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QByteArray yaml;
    try {
        yaml = readFile(path, {});
    } catch (Refusal& r) {
        r.error.files = {self};
        return r.error;
    }
    WebConfigResult result = parseWebConfig(yaml, QFileInfo(path).absolutePath());
    std::visit([&self](auto& read) { read.files.prepend(self); }, result);
    return result;
}

std::optional<qint64> goDurationNs(const QString& text) {
    bool whole = false;
    if (const qint64 ns = text.toLongLong(&whole); whole)
        return ns >= 0 ? std::optional<qint64>(ns) : std::nullopt;
    static const QRegularExpression part(
        QStringLiteral("\\G([0-9]*(?:\\.[0-9]*)?)(ns|us|µs|ms|s|m|h)"));
    static const std::pair<const char*, double> units[] = {
        {"ns", 1}, {"us", 1e3}, {"µs", 1e3}, {"ms", 1e6}, {"s", 1e9}, {"m", 60e9}, {"h", 3600e9}};
    double total = 0;
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch m = part.match(text, at);
        if (!m.hasMatch() || m.capturedLength(1) == 0 || m.captured(1) == QLatin1String("."))
            return std::nullopt;
        for (const auto& [unit, ns] : units) {
            if (m.captured(2) == QString::fromUtf8(unit))
                total += m.captured(1).toDouble() * ns;
        }
        at = m.capturedEnd();
    }
    if (text.isEmpty() || total > 9.2e18)
        return std::nullopt;
    return qint64(total);
}

namespace {

template <typename List> bool within(const List& some, const List& all) {
    return std::all_of(some.begin(), some.end(),
                       [&all](const auto& item) { return all.contains(item); });
}

// Whether TO lets in a client FROM's certificate checks would have refused. A CA file cut short
// trusts fewer; SANs cut short are other names, which another certificate may carry.
bool fewerClientChecks(const TlsSettings& from, const TlsSettings& to) {
    const auto demands = [](ClientAuth a) {
        return a == ClientAuth::RequireAny || a == ClientAuth::RequireAndVerify;
    };
    const auto verifies = [](ClientAuth a) {
        return a == ClientAuth::VerifyIfGiven || a == ClientAuth::RequireAndVerify;
    };
    return (demands(from.clientAuth) && !demands(to.clientAuth)) ||
           (verifies(from.clientAuth) && !verifies(to.clientAuth)) ||
           (!from.clientCas.isEmpty() && to.clientCas.isEmpty()) ||
           (!from.allowedSans.isEmpty() &&
            (to.allowedSans.isEmpty() || !within(to.allowedSans, from.allowedSans)));
}

} // namespace

QStringList protectionTaken(const WebConfig& from, const WebConfig& to) {
    QStringList taken;
    if (!from.users.empty() && to.users.empty())
        taken << QStringLiteral("passwords");
    if (from.tls && to.tls) {
        const TlsSettings& a = *from.tls;
        const TlsSettings& b = *to.tls;
        if (fewerClientChecks(a, b))
            taken << QStringLiteral("client certificates");
        if (b.minVersion < a.minVersion)
            taken << QStringLiteral("TLS versions");
        // No list is every suite, every curve OpenSSL has.
        if ((!a.ciphers.isEmpty() && b.ciphers.isEmpty()) ||
            (!a.curves.isEmpty() && b.curves.isEmpty()))
            taken << QStringLiteral("cipher suites");
    }
    const RateLimit& was = from.rateLimit;
    const RateLimit& is = to.rateLimit;
    if (was.intervalNs > 0 &&
        (is.intervalNs <= 0 || is.intervalNs < was.intervalNs || is.burst > was.burst))
        taken << QStringLiteral("the rate limit");
    // A header's value cut short says less (max-age=3).
    for (const auto& header : from.headers) {
        if (std::find(to.headers.begin(), to.headers.end(), header) == to.headers.end()) {
            taken << QStringLiteral("headers");
            break;
        }
    }
    return taken;
}

QString describe(const QString& path, const WebConfigError& error) {
    return error.key.isEmpty()
               ? QStringLiteral("web configuration %1: %2").arg(path, error.reason)
               : QStringLiteral("web configuration %1: %2 %3").arg(path, error.key, error.reason);
}

} // namespace exporter
