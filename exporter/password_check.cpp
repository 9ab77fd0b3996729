#include "exporter/password_check.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <crypt.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

namespace exporter {
namespace {

// Enough for every Prometheus server and person of a lab; a client that tries many passwords
// pushes out only its own.
constexpr qsizetype kRemembered = 256;

int cost(QByteArrayView hash) {
    return hash.sliced(4, 2).toInt();
}

} // namespace

bool isBcryptHash(QByteArrayView hash) {
    static const QRegularExpression form(
        QStringLiteral("^\\$2[aby]\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$"));
    return form.match(QString::fromLatin1(hash)).hasMatch();
}

std::optional<std::pair<QByteArray, QByteArray>> basicCredentials(QByteArrayView authorization) {
    const QByteArray value = authorization.toByteArray().trimmed();
    const qsizetype space = value.indexOf(' ');
    if (space < 0 || value.left(space).toLower() != "basic")
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(value.mid(space + 1).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (!decoded || colon < 0)
        return std::nullopt;
    return std::pair{decoded.decoded.left(colon), decoded.decoded.mid(colon + 1)};
}

PasswordCheck::PasswordCheck(std::map<QByteArray, QByteArray> users)
    : m_users(std::move(users)), m_scratch(std::make_unique<crypt_data>()) {
    int highest = 4;
    for (const auto& [name, hash] : m_users)
        highest = std::max(highest, cost(hash));
    // A setting with no hash after it: checking a password against it costs what a hash of
    // that cost does, and never matches.
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$2b$", highest, nullptr, 0, setting, sizeof setting))
        m_decoy = setting;
}

PasswordCheck::~PasswordCheck() = default;

bool PasswordCheck::allows(QByteArrayView authorization) {
    const auto credentials = basicCredentials(authorization);
    // A NUL would end the password where bcrypt reads it.
    if (!credentials || credentials->second.contains('\0'))
        return false;
    const auto& [user, password] = *credentials;
    const auto found = m_users.find(user);
    const QByteArray hash = found == m_users.end() ? m_decoy : found->second;
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QByteArray& part : {user, hash, password}) {
        const qint64 size = part.size();
        digest.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
        digest.addData(part);
    }
    const QByteArray key = digest.result();
    if (const auto known = m_remembered.constFind(key); known != m_remembered.cend())
        return *known;
    const bool allowed = verify(hash, password) && found != m_users.end();
    if (m_order.size() >= kRemembered)
        m_remembered.remove(m_order.takeFirst());
    m_remembered.insert(key, allowed);
    m_order.append(key);
    return allowed;
}

bool PasswordCheck::verify(const QByteArray& hash, const QByteArray& password) {
    ++m_hashed;
    std::memset(m_scratch.get(), 0, sizeof(crypt_data));
    const char* out = crypt_r(password.constData(), hash.constData(), m_scratch.get());
    if (!out || out[0] == '*')
        return false;
    const std::size_t length = std::strlen(out);
    return length == std::size_t(hash.size()) && CRYPTO_memcmp(out, hash.constData(), length) == 0;
}

} // namespace exporter
