// The web configuration file as node_exporter's users write it: what is taken, and the one line
// that says what is wrong with each file that is not; passwords as Basic authentication brings
// them; and who may in by a client certificate.
#include "exporter/password_check.h"
#include "exporter/web_config.h"
#include "exporter/web_serving.h"
#include "qt_printers.h"
#include "tls_files.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class WebConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(files.error(), QString()); }
    // Made once for every case: openssl takes a moment.
    static const TlsFiles& made() {
        static const TlsFiles once;
        return once;
    }

    // YAML with %D for the folder of the files and %H for a bcrypt hash of "s3cret".
    exporter::WebConfigResult parse(const char* yaml) const {
        const QByteArray text = QByteArray(yaml).replace("%D", files.dir().toUtf8());
        return exporter::parseWebConfig(QByteArray(text).replace("%H", hash), files.dir());
    }

    const TlsFiles& files = made();
    const QByteArray hash = TlsFiles::bcrypt("s3cret");
};

TEST_F(WebConfigTest, EachWrongFileIsRefusedWithOneLineNamingTheKeyAndWhy) {
    // At the bound a file is read, past it not.
    ASSERT_TRUE(files.write("mib.crt", QByteArray(1 << 20, 'x')));
    ASSERT_TRUE(files.write("more.crt", QByteArray((1 << 20) + 1, 'x')));
    // Opening a FIFO would wait for a writer.
    ::mkfifo(QFile::encodeName(files.path("fifo.crt")).constData(), 0600);
    const std::pair<const char*, const char*> cases[] = {
        {"tls_server_config:\n  cert_file: fifo.crt\n  key_file: server.key\n",
         "tls_server_config.cert_file cannot read %D/fifo.crt (not a regular file)"},
        {"tls_server_config:\n  cert_file: mib.crt\n  key_file: server.key\n",
         "tls_server_config.cert_file %D/mib.crt holds no PEM certificate"},
        {"tls_server_config:\n  cert_file: more.crt\n  key_file: server.key\n",
         "tls_server_config.cert_file %D/more.crt is larger than 1 MiB"},
        {"rate_limit:\n  rate: 5\n", "rate_limit.rate is not a key of this file (line 2)"},
        {"rate_limit:\n  interval: 1 s\n",
         "rate_limit.interval '1 s' is not a duration such as 1s or 100ms (line 2)"},
        {"rate_limit:\n  interval: 1s\n  burst: -1\n",
         "rate_limit.burst must be a whole number from 0 (line 3)"},
        {"rate_limit:\n  interval: 1s\n",
         "rate_limit.burst must be at least 1 where interval is given: with none, every request "
         "would be refused"},
        {"tls_server_config:\n  cert_fil: server.crt\n",
         "tls_server_config.cert_fil is not a key of this file (line 2)"},
        {"tls_server_config: [server.crt]\n",
         "tls_server_config must be a mapping of keys to values (line 1)"},
        {"http_server_config:\n  http2: maybe\n",
         "http_server_config.http2 must be true or false (line 2)"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  cipher_suites: TLS_AES_128_GCM_SHA256\n",
         "tls_server_config.cipher_suites must be a list of strings (line 4)"},
        {"tls_server_config:\n  cert_file: nowhere.crt\n  key_file: server.key\n",
         "tls_server_config.cert_file cannot read %D/nowhere.crt (No such file or directory)"},
        {"tls_server_config:\n  cert_file: server.crt\n",
         "tls_server_config.key_file is missing: TLS needs a private key (key_file or key)"},
        {"tls_server_config:\n  key_file: server.key\n",
         "tls_server_config.cert_file is missing: TLS needs a certificate (cert_file or cert)"},
        {"tls_server_config:\n  cert_file: server.key\n  key_file: server.key\n",
         "tls_server_config.cert_file %D/server.key holds no PEM certificate"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.crt\n",
         "tls_server_config.key_file %D/server.crt holds no unencrypted PEM private key (RSA, EC "
         "or DSA)"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: unrelated.key\n",
         "tls_server_config.key_file does not match the certificate in %D/server.crt"},
        {"tls_server_config:\n  cert: x\n  cert_file: server.crt\n  key_file: server.key\n",
         "tls_server_config.cert_file is given with tls_server_config.cert; give only one"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  client_ca_file: server.key\n  client_auth_type: RequireAndVerifyClientCert\n",
         "tls_server_config.client_ca_file %D/server.key holds no PEM certificate"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  client_auth_type: AskNicely\n",
         "tls_server_config.client_auth_type 'AskNicely' is not NoClientCert, RequestClientCert, "
         "RequireAnyClientCert, VerifyClientCertIfGiven or RequireAndVerifyClientCert"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  client_ca_file: ca.crt\n",
         "tls_server_config.client_ca_file needs a client_auth_type other than NoClientCert: "
         "with none, no client is asked for a certificate"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  client_ca_file: ca.crt\n  client_auth_type: VerifyClientCertIfGiven\n"
         "  client_allowed_sans: [prometheus.lab]\n",
         "tls_server_config.client_allowed_sans needs client_auth_type RequireAnyClientCert or "
         "RequireAndVerifyClientCert"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  min_version: TLS14\n",
         "tls_server_config.min_version 'TLS14' is not TLS10, TLS11, TLS12 or TLS13"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  min_version: TLS13\n  max_version: TLS12\n",
         "tls_server_config.max_version is below min_version"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  min_version: TLS11\n  max_version: TLS12\n",
         "tls_server_config.max_version below TLS13 must equal min_version: Qt's TLS serves one "
         "version, or a version and every later one"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  cipher_suites: [TLS_RSA_WITH_RC4_128_SHA]\n",
         "tls_server_config.cipher_suites 'TLS_RSA_WITH_RC4_128_SHA' is not a cipher suite of "
         "Go's tls.CipherSuites()"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  curve_preferences: [CurveP224]\n",
         "tls_server_config.curve_preferences 'CurveP224' is not CurveP256, CurveP384, CurveP521 "
         "or X25519"},
        {"http_server_config:\n  headers:\n    Server: lab\n",
         "http_server_config.headers.Server is not a key of this file (line 3)"},
        {"http_server_config:\n  headers:\n    X-Frame-Options: allow\n",
         "http_server_config.headers.X-Frame-Options must be deny or sameorigin"},
        {"http_server_config:\n  headers:\n    X-XSS-Protection: \"1\\r\\nSet-Cookie: a=b\"\n",
         "http_server_config.headers.X-XSS-Protection holds a control character"},
        {"basic_auth_users:\n  alice: $1$abc$abcdefghijklmnopqrstuv\n",
         "basic_auth_users.alice is not a bcrypt hash ($2a$, $2b$ or $2y$, cost 4 to 31, 60 "
         "characters)"},
        {"basic_auth_users:\n  alice: "
         "$2x$10$abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyza\n",
         "basic_auth_users.alice is not a bcrypt hash ($2a$, $2b$ or $2y$, cost 4 to 31, 60 "
         "characters)"},
        {"basic_auth_users:\n  'al:ice': %H\n",
         "basic_auth_users.al:ice is not a name Basic authentication can carry"},
        {"basic_auth_users:\n  alice: %H\n  alice: %H\n",
         "basic_auth_users.alice is given twice (line 3)"},
        {"basic_auth_users: [alice]\n",
         "basic_auth_users must be a mapping of user names to bcrypt hashes (line 1)"},
        {"tls_server_config: [\n", "is not YAML: end of sequence flow not found (line 2)"},
    };
    for (const auto& [yaml, line] : cases) {
        const exporter::WebConfigResult got = parse(yaml);
        ASSERT_TRUE(std::holds_alternative<exporter::WebConfigError>(got)) << yaml;
        EXPECT_EQ(
            exporter::describe(QStringLiteral("w.yml"), std::get<exporter::WebConfigError>(got)),
            QStringLiteral("web configuration w.yml: ") +
                QString::fromUtf8(line).replace(QLatin1String("%D"), files.dir()))
            << yaml;
    }
}

TEST_F(WebConfigTest, AWholeFileIsTakenAsItSays) {
    const QByteArray a = TlsFiles::bcrypt("a");
    const QByteArray yaml =
        "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
        "  client_ca_file: ca.crt\n  client_auth_type: RequireAndVerifyClientCert\n"
        "  client_allowed_sans: [prometheus.lab, 10.0.0.9]\n"
        "  min_version: TLS13\n"
        "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256, TLS_AES_128_GCM_SHA256]\n"
        "  prefer_server_cipher_suites: false\n  curve_preferences: [X25519, CurveP256]\n"
        "http_server_config:\n  http2: false\n  headers:\n    X-Frame-Options: DENY\n"
        "    Content-Security-Policy: \"default-src 'self'\"\n    X-XSS-Protection: ''\n"
        "basic_auth_users:\n  a: " +
        a + "\n  b: '" + QByteArray(hash).replace("$2y$", "$2a$") +
        "'\n  c: " + QByteArray(hash).replace("$2y$", "$2b$") +
        "\nrate_limit:\n  interval: 1m30.5s\n  burst: 20\n";
    const exporter::WebConfigResult got = exporter::parseWebConfig(yaml, files.dir());
    ASSERT_TRUE(std::holds_alternative<exporter::WebConfig>(got))
        << exporter::describe("w", std::get<exporter::WebConfigError>(got)).toStdString();
    const exporter::WebConfig& config = std::get<exporter::WebConfig>(got);
    ASSERT_TRUE(config.tls);
    EXPECT_EQ(config.tls->chain.first().subjectInfo(QSslCertificate::CommonName),
              QStringList{"lab-01"});
    EXPECT_EQ(config.tls->clientAuth, exporter::ClientAuth::RequireAndVerify);
    EXPECT_EQ(config.tls->clientCas.size(), 1);
    EXPECT_EQ(config.tls->allowedSans, (QStringList{"prometheus.lab", "10.0.0.9"}));
    EXPECT_EQ(config.tls->protocol, QSsl::TlsV1_3OrLater);
    EXPECT_EQ(config.tls->ciphers.size(), 1) << "TLS 1.3's own are not chosen, as in Go";
    EXPECT_EQ(config.tls->ciphers.first().name(), "ECDHE-ECDSA-AES128-GCM-SHA256");
    EXPECT_FALSE(config.tls->preferServerCiphers);
    EXPECT_EQ(config.tls->curves.size(), 2);
    EXPECT_EQ(config.headers,
              (std::vector<std::pair<QByteArray, QByteArray>>{
                  {"X-Frame-Options", "DENY"}, {"Content-Security-Policy", "default-src 'self'"}}))
        << "a blank header is unset";
    EXPECT_EQ(config.users.size(), 3u);
    EXPECT_EQ(config.rateLimit.intervalNs, 90'500'000'000);
    EXPECT_EQ(config.rateLimit.burst, 20);
    EXPECT_EQ(config.files, (QStringList{files.path("server.crt"), files.path("server.key"),
                                         files.path("ca.crt")}));

    // An empty file asks for nothing; a certificate and key may stand in the file itself.
    EXPECT_FALSE(std::get<exporter::WebConfig>(parse("")).tls);
    const QByteArray inlined =
        "tls_server_config:\n  cert: |\n    " + files.read("server.crt").replace("\n", "\n    ") +
        "\n  key: |\n    " + files.read("server.key").replace("\n", "\n    ") + "\n";
    const exporter::WebConfigResult inside = exporter::parseWebConfig(inlined, files.dir());
    ASSERT_TRUE(std::holds_alternative<exporter::WebConfig>(inside));
    EXPECT_TRUE(std::get<exporter::WebConfig>(inside).tls);
    EXPECT_TRUE(std::get<exporter::WebConfig>(inside).files.isEmpty());

    // Durations as Go's YAML reads them; interval: 0 is no limit.
    const std::pair<const char*, std::optional<qint64>> durations[] = {{"0", 0},
                                                                       {"1500", 1500},
                                                                       {"250ms", 250'000'000},
                                                                       {"1h2m", 3720e9},
                                                                       {".5s", 500'000'000},
                                                                       {"3us", 3000},
                                                                       {"1.5µs", 1500},
                                                                       {"", std::nullopt},
                                                                       {"-1s", std::nullopt},
                                                                       {"5", 5},
                                                                       {"1d", std::nullopt},
                                                                       {"s", std::nullopt},
                                                                       {"1s2", std::nullopt},
                                                                       {"-5", std::nullopt},
                                                                       {"9999999h", std::nullopt}};
    for (const auto& [text, ns] : durations)
        EXPECT_EQ(exporter::goDurationNs(QString::fromUtf8(text)), ns) << text;
}

// What the package ships as examples, this program takes as promtool does.
// What a renewal takes away, as a file read half written would: each protection dropped or
// eased is named, and a file that keeps or adds protection names none.
TEST_F(WebConfigTest, ARenewalNamesEachProtectionItTakesAway) {
    const QByteArray tls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";
    const QByteArray verified = tls + "  client_auth_type: RequireAndVerifyClientCert\n";
    const QByteArray any = tls + "  client_auth_type: RequireAnyClientCert\n";
    const QByteArray users = "basic_auth_users:\n  lab: %H\n";
    const QByteArray rate = "rate_limit:\n  interval: 1s\n  burst: 3\n";
    const std::tuple<QByteArray, QByteArray, const char*> cases[] = {
        {users, "", "passwords"},
        {"", users, ""},
        {verified, any, "client certificates"},
        {any, tls + "  client_auth_type: RequestClientCert\n", "client certificates"},
        {verified + "  client_ca_file: ca.crt\n", verified, "client certificates"},
        {any + "  client_allowed_sans: [a]\n", any, "client certificates"},
        {any + "  client_allowed_sans: [a, b]\n", any + "  client_allowed_sans: [a]\n", ""},
        {any + "  client_allowed_sans: [prometheus.lab]\n", any + "  client_allowed_sans: [prom]\n",
         "client certificates"},
        {tls + "  min_version: TLS13\n", tls, "TLS versions"},
        {tls + "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256]\n", tls,
         "cipher suites"},
        {tls + "  curve_preferences: [CurveP256]\n", tls, "cipher suites"},
        {rate, "", "the rate limit"},
        {rate, "rate_limit:\n  interval: 500ms\n  burst: 3\n", "the rate limit"},
        {rate, "rate_limit:\n  interval: 1s\n  burst: 4\n", "the rate limit"},
        {rate, "rate_limit:\n  interval: 2s\n  burst: 2\n", ""},
        {"http_server_config:\n  headers:\n    X-Frame-Options: deny\n", "", "headers"},
        {"http_server_config:\n  headers:\n    Strict-Transport-Security: max-age=31536000\n",
         "http_server_config:\n  headers:\n    Strict-Transport-Security: max-age=3\n", "headers"},
        {users + rate, "", "passwords and the rate limit"},
        {tls, verified + "  min_version: TLS13\n" + users, ""}};
    for (const auto& [from, to, taken] : cases) {
        const auto config = [this](const QByteArray& yaml) {
            return std::get<exporter::WebConfig>(parse(yaml.constData()));
        };
        EXPECT_EQ(exporter::protectionTaken(config(from), config(to)).join(" and "), taken)
            << from.toStdString() << " -> " << to.toStdString();
    }
}

TEST_F(WebConfigTest, TheShippedExamplesAreTaken) {
    QFile::remove(files.path("client-ca.crt"));
    ASSERT_TRUE(QFile::copy(files.path("ca.crt"), files.path("client-ca.crt")));
    for (const char* example : {"web-config-passwords.yml", "web-config-client-certificates.yml"}) {
        QFile file(QStringLiteral(DEVICE_INFO_SOURCE_DIR "/exporter/deploy/") + example);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const exporter::WebConfigResult got = exporter::parseWebConfig(file.readAll(), files.dir());
        EXPECT_TRUE(std::holds_alternative<exporter::WebConfig>(got))
            << example << ": "
            << exporter::describe(example, std::get<exporter::WebConfigError>(got)).toStdString();
    }
}

TEST_F(WebConfigTest, APasswordIsCheckedOnceAndEveryMalformedHeaderIsRefused) {
    exporter::PasswordCheck check({{"prometheus", hash}, {"other", TlsFiles::bcrypt("x", 5)}});
    const auto basic = [](const QByteArray& credentials) {
        return "Basic " + credentials.toBase64();
    };
    const std::pair<QByteArray, bool> cases[] = {
        {basic("prometheus:s3cret"), true},
        {"basic " + QByteArray("prometheus:s3cret").toBase64(), true},
        {basic("prometheus:s3cret2"), false},
        {basic("prometheus:"), false},
        {basic("nobody:s3cret"), false},
        {basic("prometheus:s3c\0ret"), false},
        {basic("prometheuss3cret"), false},
        {"Basic ***", false},
        {"Basic " + QByteArray(48 << 10, 'A'), false},
        {"Bearer " + QByteArray("prometheus:s3cret").toBase64(), false},
        {"Basic", false},
        {"", false},
    };
    for (const auto& [header, allowed] : cases)
        EXPECT_EQ(check.allows(header), allowed) << header.left(60).toStdString();
    const int hashed = check.hashed();
    EXPECT_EQ(hashed, 5) << "bcrypt ran once each for the wrong password and the unknown user";
    for (const auto& [header, allowed] : cases)
        EXPECT_EQ(check.allows(header), allowed) << header.left(60).toStdString();
    EXPECT_EQ(check.hashed(), hashed) << "every outcome remembered";
    // Wrong passwords never push out a right one.
    for (int i = 0; i < 300; ++i)
        check.allows(basic("prometheus:guess" + QByteArray::number(i)));
    const auto remembered = check.lookUp(basic("prometheus:s3cret"));
    EXPECT_TRUE(std::holds_alternative<bool>(remembered) && std::get<bool>(remembered));
}

TEST_F(WebConfigTest, AClientCertificateLetsInOnlyAsTheFileSays) {
    const auto chain = [](const QByteArray& pem) {
        return pem.isEmpty() ? QList<QSslCertificate>() : QSslCertificate::fromData(pem);
    };
    const QList<QSslCertificate> none,
        client = chain(files.read("client.crt")), stranger = chain(files.read("stranger.crt")),
        outsider = chain(files.read("outsider.crt")), chained = chain(files.read("chained.crt")),
        mapped = chain(files.read("mapped.crt"));
    const QList<QSslCertificate> lab = chain(files.read("ca.crt")),
                                 intermediate = chain(files.read("intermediate.crt")), system;
    exporter::TlsSettings tls;
    using Auth = exporter::ClientAuth;
    struct Case {
        Auth auth;
        QStringList sans;
        const QList<QSslCertificate>& shown;
        const char* refusal;
        const QList<QSslCertificate>* cas = nullptr; // none: the lab CA
    };
    const Case cases[] = {
        {Auth::None, {}, none, ""},
        {Auth::Request, {}, stranger, ""},
        {Auth::RequireAny, {}, none, "it showed no certificate"},
        {Auth::RequireAny, {}, stranger, ""},
        {Auth::RequireAny,
         {"prometheus.lab"},
         outsider,
         "its certificate names none of client_allowed_sans"},
        {Auth::VerifyIfGiven, {}, none, ""},
        {Auth::VerifyIfGiven,
         {},
         stranger,
         "its certificate is not trusted (unable to get local issuer certificate)"},
        {Auth::RequireAndVerify, {}, none, "it showed no certificate"},
        {Auth::RequireAndVerify, {}, client, ""},
        {Auth::RequireAndVerify, {"prometheus.lab"}, client, ""},
        {Auth::RequireAndVerify, {"10.0.0.9"}, client, ""},
        {Auth::RequireAndVerify,
         {"prometheus.lab"},
         stranger,
         "its certificate is not trusted (unable to get local issuer certificate)"},
        {Auth::RequireAndVerify,
         {"someone.lab", "other.lab"},
         client,
         "its certificate names none of client_allowed_sans"},
        // Any certificate of the file is an anchor, an intermediate CA too.
        {Auth::RequireAndVerify, {}, chained, "", &intermediate},
        {Auth::RequireAndVerify,
         {},
         client,
         "its certificate is not trusted (unable to get local issuer certificate)",
         &intermediate},
        // An IP address in IPv6 form names its IPv4 address, as Go prints it.
        {Auth::RequireAndVerify, {"10.0.0.1"}, mapped, ""},
        // No client CA: the system's, which know nothing of a lab's.
        {Auth::VerifyIfGiven, {}, none, "", &system},
        {Auth::VerifyIfGiven,
         {},
         client,
         "its certificate is not trusted (unable to get local issuer certificate)",
         &system},
    };
    for (const auto& [address, unmapped] :
         {std::pair{"::ffff:10.0.0.1", "10.0.0.1"}, {"::1", "::1"}, {"10.0.0.1", "10.0.0.1"}})
        EXPECT_EQ(exporter::unmapped(QHostAddress(QString::fromLatin1(address))).toString(),
                  QString::fromLatin1(unmapped));
    for (const Case& c : cases) {
        tls.clientCas = c.cas ? *c.cas : lab;
        tls.clientAuth = c.auth;
        tls.allowedSans = c.sans;
        EXPECT_EQ(exporter::clientRefusal(tls, c.shown), QString::fromUtf8(c.refusal))
            << int(c.auth) << ' ' << c.sans.join(u',').toStdString();
    }
}

} // namespace

// Written in place, a file read half written is read again at the next connection, and a
// renewal that names a file not there yet is taken once it is: what is served always comes to
// be what is on disk.
TEST_F(WebConfigTest, WhatIsServedComesToBeWhatIsOnDisk) {
    const QByteArray tls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";
    const QByteArray users = "basic_auth_users:\n  prometheus: " + hash + "\n";
    ASSERT_TRUE(files.write("inplace.yml", tls + users));
    QStringList said;
    QByteArray finishing; // what the writer adds while the next read is under way
    exporter::WebConfigSource source(
        files.path("inplace.yml"), [&said](const QString& line) { said << line; },
        [&](const QString& path) {
            const exporter::WebConfigResult read = exporter::loadWebConfig(path);
            if (!finishing.isEmpty()) {
                QFile file(path);
                EXPECT_TRUE(file.open(QIODevice::Append) && file.write(finishing) > 0);
                finishing.clear();
            }
            return read;
        });
    ASSERT_EQ(source.refusal(), QString());
    EXPECT_TRUE(source.current()->passwords.asks());

    ASSERT_TRUE(files.write("inplace.yml", tls));
    finishing = users;
    EXPECT_TRUE(source.current()->passwords.asks()) << "the half that was read takes them away";
    EXPECT_TRUE(source.current()->passwords.asks()) << "the whole file, at the next connection";

    QFile::remove(files.path("later.crt"));
    ASSERT_TRUE(
        files.write("inplace.yml", QByteArray(tls).replace("server.crt", "later.crt") + users));
    const auto before = source.current();
    EXPECT_EQ(source.current(), before) << "the last good one serves";
    ASSERT_TRUE(QFile::copy(files.path("server.crt"), files.path("later.crt")));
    EXPECT_NE(source.current(), before);

    // Meant: taken once the file has stayed so.
    ASSERT_TRUE(files.write("inplace.yml", tls));
    EXPECT_TRUE(source.current()->passwords.asks());
    QThread::msleep(exporter::WebConfigSource::kSettleMs + 100);
    EXPECT_FALSE(source.current()->passwords.asks());
    const QString waiting = QStringLiteral("web configuration %1 takes away passwords: it is taken "
                                           "once it has stayed the same for 2 s, the last one "
                                           "serving meanwhile");
    EXPECT_EQ(said,
              (QStringList{waiting, "web configuration %1 read again",
                           "web configuration %1: tls_server_config.cert_file cannot read "
                           "%2 (No such file or directory); still serving with the last good one",
                           "web configuration %1 read again", waiting,
                           "web configuration %1 read again, taking away passwords: it stayed the "
                           "same for 2 s"})
                  .replaceInStrings("%1", files.path("inplace.yml"))
                  .replaceInStrings("%2", files.path("later.crt")));
}
