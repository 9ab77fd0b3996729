#include "pairing_tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace sim {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

QByteArray drain(BIO* bio) {
    QByteArray out;
    char chunk[4096];
    int n = 0;
    while ((n = BIO_read(bio, chunk, sizeof chunk)) > 0)
        out.append(chunk, n);
    return out;
}

QByteArray pem(const Key& key) {
    Bio bio(BIO_new(BIO_s_mem()));
    // "RSA PRIVATE KEY", as libimobiledevice writes and reads a record's keys.
    PEM_write_bio_PrivateKey_traditional(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr);
    return drain(bio.get());
}

QByteArray pem(const Cert& cert) {
    Bio bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert.get());
    return drain(bio.get());
}

// Pairing certificates name nobody; the root is a CA, the others are not.
Cert certificate(EVP_PKEY* subject, EVP_PKEY* issuerKey, X509* issuer, long serial) {
    Cert cert(X509_new());
    X509* x = cert.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 60L * 60 * 24 * 365 * 10);
    X509_set_pubkey(x, subject);
    X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : x, x, nullptr, nullptr, 0);
    if (X509_EXTENSION* extension =
            X509V3_EXT_conf_nid(nullptr, &context, NID_basic_constraints,
                                issuer ? "critical,CA:FALSE" : "critical,CA:TRUE")) {
        X509_add_ext(x, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(x, issuerKey, EVP_sha256());
    return cert;
}

} // namespace

Credentials makeCredentials() {
    const Key root(EVP_RSA_gen(2048));
    const Key host(EVP_RSA_gen(2048));
    const Key device(EVP_RSA_gen(2048));
    if (!root || !host || !device)
        return {};
    const Cert rootCert = certificate(root.get(), root.get(), nullptr, 0);
    const Cert hostCert = certificate(host.get(), root.get(), rootCert.get(), 1);
    const Cert deviceCert = certificate(device.get(), root.get(), rootCert.get(), 2);
    return {pem(rootCert), pem(root), pem(hostCert), pem(host), pem(deviceCert), pem(device)};
}

struct TlsServer::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;  // owned by ssl
    BIO* out = nullptr; // owned by ssl
    QByteArray trustedDer;

    ~State() {
        SSL_free(ssl);
        SSL_CTX_free(context);
    }

    // The client's certificate must be the root the device was paired with.
    static int verify(int, X509_STORE_CTX* store) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        const auto* self = static_cast<const State*>(SSL_get_app_data(ssl));
        X509* presented = X509_STORE_CTX_get0_cert(store);
        unsigned char* der = nullptr;
        const int length = presented ? i2d_X509(presented, &der) : -1;
        const bool same = length > 0 && QByteArray(reinterpret_cast<const char*>(der), length) ==
                                            self->trustedDer;
        OPENSSL_free(der);
        return same ? 1 : 0;
    }
};

TlsServer::TlsServer(const QByteArray& certificate, const QByteArray& privateKey,
                     const QByteArray& trustedClient)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.context = SSL_CTX_new(TLS_server_method());
    // Pairing keys and their SHA-1 days: whatever the library offers is taken.
    SSL_CTX_set_security_level(s.context, 0);
    SSL_CTX_set_max_proto_version(s.context, TLS1_2_VERSION);
    Bio certBio(BIO_new_mem_buf(certificate.constData(), int(certificate.size())));
    const Cert cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    Bio keyBio(BIO_new_mem_buf(privateKey.constData(), int(privateKey.size())));
    const Key key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (cert)
        SSL_CTX_use_certificate(s.context, cert.get());
    if (key)
        SSL_CTX_use_PrivateKey(s.context, key.get());
    Bio trustedBio(BIO_new_mem_buf(trustedClient.constData(), int(trustedClient.size())));
    if (const Cert trusted{PEM_read_bio_X509(trustedBio.get(), nullptr, nullptr, nullptr)}) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(trusted.get(), &der);
        if (length > 0)
            s.trustedDer = QByteArray(reinterpret_cast<const char*>(der), length);
        OPENSSL_free(der);
    }
    SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       &State::verify);
    s.ssl = SSL_new(s.context);
    s.in = BIO_new(BIO_s_mem());
    s.out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(s.in, -1); // empty means "more to come", not the end
    SSL_set_bio(s.ssl, s.in, s.out);
    SSL_set_accept_state(s.ssl);
    SSL_set_app_data(s.ssl, &s);
}

TlsServer::~TlsServer() = default;

TlsServer::Fed TlsServer::feed(const QByteArray& bytes) {
    State& s = *m_state;
    Fed fed;
    if (!bytes.isEmpty())
        BIO_write(s.in, bytes.constData(), int(bytes.size()));
    const auto fatal = [&s](int result) {
        const int error = SSL_get_error(s.ssl, result);
        return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
    };
    if (!SSL_is_init_finished(s.ssl)) {
        const int result = SSL_do_handshake(s.ssl);
        if (result <= 0 && fatal(result))
            fed.failed = true;
        fed.established = result == 1;
    }
    while (!fed.failed && SSL_is_init_finished(s.ssl)) {
        char chunk[4096];
        const int n = SSL_read(s.ssl, chunk, sizeof chunk);
        if (n > 0) {
            fed.plaintext.append(chunk, n);
            continue;
        }
        if (SSL_get_error(s.ssl, n) == SSL_ERROR_ZERO_RETURN) {
            // Records are read one at a time: what follows close_notify is still unread.
            fed.closed = true;
            fed.after = drain(s.in);
        } else if (fatal(n)) {
            fed.failed = true;
        }
        break;
    }
    ERR_clear_error();
    fed.toSend = drain(s.out);
    return fed;
}

QByteArray TlsServer::encrypt(const QByteArray& plaintext) {
    State& s = *m_state;
    if (!plaintext.isEmpty())
        SSL_write(s.ssl, plaintext.constData(), int(plaintext.size()));
    ERR_clear_error();
    return drain(s.out);
}

} // namespace sim
