#include "exporter/web_serving.h"

#include <QFile>
#include <QHostAddress>
#include <QtEndian>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <memory>

namespace exporter {
namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr toX509(const QSslCertificate& certificate) {
    const QByteArray der = certificate.toDer();
    const auto* data = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &data, long(der.size())), X509_free);
}

// Why CHAIN does not lead to one of CAS for a client; empty where it does.
QString untrusted(const QList<QSslCertificate>& chain, const QList<QSslCertificate>& cas) {
    const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(),
                                                                        X509_STORE_free);
    const std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> others(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
    const std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(
        X509_STORE_CTX_new(), X509_STORE_CTX_free);
    const X509Ptr leaf = toX509(chain.first());
    if (!store || !others || !context || !leaf)
        return QStringLiteral("its certificate cannot be read");
    for (const QSslCertificate& ca :
         cas.isEmpty() ? QSslConfiguration::systemCaCertificates() : cas) {
        if (const X509Ptr x = toX509(ca))
            X509_STORE_add_cert(store.get(), x.get());
    }
    // Any certificate of the client CA file is an anchor, as in Go: a lab that names only its
    // intermediate CA trusts the clients below it.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    for (qsizetype i = 1; i < chain.size(); ++i) {
        if (X509Ptr x = toX509(chain[i]); x && sk_X509_push(others.get(), x.get()))
            x.release();
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), others.get()) != 1)
        return QStringLiteral("its certificate cannot be checked");
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_CLIENT);
    if (X509_verify_cert(context.get()) == 1)
        return {};
    return QStringLiteral("its certificate is not trusted (%1)")
        .arg(QString::fromUtf8(
            X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()))));
}

} // namespace

QHostAddress unmapped(const QHostAddress& address) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                         : address;
}

namespace {

// The DNS names, IP addresses, e-mail addresses and URIs a certificate carries, as Go prints
// them: an IPv4 address in IPv6 form as IPv4.
QStringList alternativeNames(const QSslCertificate& certificate) {
    QStringList out;
    const X509Ptr x = toX509(certificate);
    auto* names = x ? static_cast<GENERAL_NAMES*>(
                          X509_get_ext_d2i(x.get(), NID_subject_alt_name, nullptr, nullptr))
                    : nullptr;
    if (!names)
        return out;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        const auto bytes = [](const ASN1_STRING* s) {
            return QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                              ASN1_STRING_length(s));
        };
        if (name->type == GEN_DNS || name->type == GEN_EMAIL || name->type == GEN_URI) {
            out << QString::fromUtf8(bytes(name->d.ia5));
        } else if (name->type == GEN_IPADD) {
            const QByteArray ip = bytes(name->d.iPAddress);
            if (ip.size() == 4)
                out << QHostAddress(qFromBigEndian<quint32>(ip.constData())).toString();
            else if (ip.size() == 16)
                out << unmapped(QHostAddress(reinterpret_cast<const quint8*>(ip.constData())))
                           .toString();
        }
    }
    GENERAL_NAMES_free(names);
    return out;
}

} // namespace

Serving::Serving(WebConfig c) : config(std::move(c)), passwords(config.users) {
    if (config.tls)
        ssl = sslConfiguration(*config.tls);
}

QSslConfiguration sslConfiguration(const TlsSettings& tls) {
    QSslConfiguration ssl;
    ssl.setLocalCertificateChain(tls.chain);
    ssl.setPrivateKey(tls.key);
    ssl.setProtocol(tls.protocol);
    ssl.setPeerVerifyMode(tls.clientAuth == ClientAuth::None ? QSslSocket::VerifyNone
                                                             : QSslSocket::QueryPeer);
    // Named in the certificate request, so that a client with several picks the right one.
    ssl.setCaCertificates(tls.clientCas);
    if (!tls.ciphers.isEmpty())
        ssl.setCiphers(tls.ciphers);
    if (!tls.curves.isEmpty())
        ssl.setEllipticCurves(tls.curves);
    ssl.setSslOption(QSsl::SslOptionDisableServerCipherPreference, !tls.preferServerCiphers);
    return ssl;
}

QString clientRefusal(const TlsSettings& tls, const QList<QSslCertificate>& chain) {
    const bool given = !chain.isEmpty() && !chain.first().isNull();
    switch (tls.clientAuth) {
    case ClientAuth::None:
    case ClientAuth::Request:
        return {};
    case ClientAuth::RequireAny:
        if (!given)
            return QStringLiteral("it showed no certificate");
        break;
    case ClientAuth::VerifyIfGiven:
        if (!given)
            return {};
        [[fallthrough]];
    case ClientAuth::RequireAndVerify:
        if (!given)
            return QStringLiteral("it showed no certificate");
        if (QString why = untrusted(chain, tls.clientCas); !why.isEmpty())
            return why;
        break;
    }
    if (tls.allowedSans.isEmpty())
        return {};
    const QStringList names = alternativeNames(chain.first());
    for (const QString& allowed : tls.allowedSans) {
        if (names.contains(allowed))
            return {};
    }
    return QStringLiteral("its certificate names none of client_allowed_sans");
}

namespace {

// What a renewal changes, whether it writes a file anew, in place, renames one over it or swaps
// a link: where each name leads, its size and its times, to the nanosecond.
QByteArray stamp(const QStringList& files) {
    QByteArray out;
    for (const QString& file : files) {
        struct stat s = {};
        if (::stat(QFile::encodeName(file).constData(), &s) != 0)
            s = {};
        for (const long long n : {(long long)s.st_dev, (long long)s.st_ino, (long long)s.st_size,
                                  (long long)s.st_mtim.tv_sec, (long long)s.st_mtim.tv_nsec,
                                  (long long)s.st_ctim.tv_sec, (long long)s.st_ctim.tv_nsec})
            out += QByteArray::number(n) + ' ';
    }
    return out;
}

} // namespace

WebConfigSource::WebConfigSource(QString path, Say say, Load load)
    : m_path(std::move(path)), m_say(std::move(say)), m_load(std::move(load)), m_watched{m_path} {
    m_clock.start();
    const QByteArray before = stamp(m_watched);
    WebConfigResult read = m_load(m_path);
    m_watched = std::visit([](const auto& r) { return r.files; }, read);
    if (const auto* error = std::get_if<WebConfigError>(&read)) {
        m_refusal = describe(m_path, *error);
        return;
    }
    m_serving = std::make_shared<Serving>(std::get<WebConfig>(std::move(read)));
    // Those it names were not in the stamp: the first connection reads once more, unsaid.
    m_stamp = m_watched == QStringList{m_path} ? before : QByteArray();
}

std::shared_ptr<Serving> WebConfigSource::current() {
    const QByteArray before = stamp(m_watched);
    if (!m_serving)
        return m_serving;
    if (before == m_stamp)
        return settled();
    // A read of what was there before a change is followed by another: a file written in place
    // and read half written is read again, so that what is served always comes to be what is
    // on disk.
    const bool changed = !m_stamp.isEmpty();
    WebConfigResult read = m_load(m_path);
    const QStringList named = std::visit([](const auto& r) { return r.files; }, read);
    m_stamp = named == m_watched ? before : QByteArray();
    m_watched = named;
    if (auto* config = std::get_if<WebConfig>(&read);
        config && config->tls.has_value() != m_serving->config.tls.has_value())
        read = WebConfigError{QStringLiteral("tls_server_config"),
                              QStringLiteral("cannot be added or removed while serving: "
                                             "restart to change between HTTP and HTTPS"),
                              named};
    if (const auto* error = std::get_if<WebConfigError>(&read)) {
        m_weaker.reset();
        const QString line =
            describe(m_path, *error) + QStringLiteral("; still serving with the last good one");
        if (line != m_said)
            m_say(line);
        m_said = line;
        return m_serving;
    }
    WebConfig& config = std::get<WebConfig>(read);
    if (const QStringList taken = protectionTaken(m_serving->config, config); !taken.isEmpty()) {
        // Its own files' stamp: the wait begins again whenever one of them changes.
        const QByteArray now = stamp(named);
        if (!m_weaker)
            m_say(QStringLiteral("web configuration %1 takes away %2: it is taken once it has "
                                 "stayed the same for 2 s, the last one serving meanwhile")
                      .arg(m_path, taken.join(QStringLiteral(" and "))));
        if (!m_weaker || now != m_weakerStamp)
            m_weakerSince = m_clock.elapsed();
        m_weaker = std::move(config);
        m_weakerStamp = now;
        m_said.clear();
        return settled();
    }
    m_weaker.reset();
    m_serving = std::make_shared<Serving>(std::move(config));
    if (changed || !m_said.isEmpty())
        m_say(QStringLiteral("web configuration %1 read again").arg(m_path));
    m_said.clear();
    return m_serving;
}

std::shared_ptr<Serving> WebConfigSource::settled() {
    if (m_weaker && m_clock.elapsed() - m_weakerSince >= kSettleMs) {
        const QStringList taken = protectionTaken(m_serving->config, *m_weaker);
        m_serving = std::make_shared<Serving>(*std::exchange(m_weaker, std::nullopt));
        m_say(QStringLiteral("web configuration %1 read again, taking away %2: it stayed the "
                             "same for 2 s")
                  .arg(m_path, taken.join(QStringLiteral(" and "))));
    }
    return m_serving;
}

void WebConfigSource::refused(const QHostAddress& peer, const QString& why) {
    const qint64 now = m_clock.elapsed();
    const auto said = m_refusalsSaid.constFind(why);
    if (said != m_refusalsSaid.cend() && now - *said < 60000)
        return;
    m_refusalsSaid.insert(why, now);
    m_say(QStringLiteral("refused a client at %1: %2").arg(unmapped(peer).toString(), why));
}

} // namespace exporter
