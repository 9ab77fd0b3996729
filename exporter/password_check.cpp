#include "exporter/password_check.h"

#include <QCryptographicHash>

#include <crypt.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace exporter {
namespace {

int cost(QByteArrayView hash) {
    return hash.sliced(4, 2).toInt();
}

} // namespace

bool isBcryptHash(QByteArrayView hash) {
    // libxcrypt checks the method and the alphabet; the length and the cost bcrypt takes are
    // ours to check.
    const bool bcrypt = hash.size() == 60 && (hash.startsWith("$2a$") || hash.startsWith("$2b$") ||
                                              hash.startsWith("$2y$"));
    if (!bcrypt || hash[6] != '$' || !std::isdigit(uchar(hash[4])) ||
        !std::isdigit(uchar(hash[5])) || cost(hash) < 4 || cost(hash) > 31)
        return false;
    return crypt_checksalt(hash.toByteArray().constData()) == CRYPT_SALT_OK;
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

PasswordCheck::PasswordCheck(std::map<QByteArray, QByteArray> users) : m_users(std::move(users)) {
    int highest = 4;
    for (const auto& [name, hash] : m_users)
        highest = std::max(highest, cost(hash));
    // A setting with no hash after it: checking a password against it costs what a hash of
    // that cost does, and never matches.
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$2b$", highest, nullptr, 0, setting, sizeof setting))
        m_decoy = setting;
}

std::variant<bool, PasswordCheck::Question> PasswordCheck::lookUp(QByteArrayView authorization) {
    const auto credentials = basicCredentials(authorization);
    // A NUL would end the password where bcrypt reads it.
    if (!credentials || credentials->second.contains('\0'))
        return false;
    const auto& [user, password] = *credentials;
    const auto found = m_users.find(user);
    Question question{
        {}, found == m_users.end() ? m_decoy : found->second, password, found != m_users.end()};
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QByteArray& part : {user, question.hash, password}) {
        const qint64 size = part.size();
        digest.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
        digest.addData(part);
    }
    question.key = digest.result();
    if (m_allowed.object(question.key))
        return true;
    if (m_refused.object(question.key))
        return false;
    return question;
}

bool PasswordCheck::answer(const Question& question) {
    crypt_data scratch = {};
    const char* out = crypt_r(question.password.constData(), question.hash.constData(), &scratch);
    if (!out || out[0] == '*')
        return false;
    const std::size_t length = std::strlen(out);
    return question.known && length == std::size_t(question.hash.size()) &&
           CRYPTO_memcmp(out, question.hash.constData(), length) == 0;
}

void PasswordCheck::remember(const Question& question, bool allowed) {
    ++m_hashed;
    (allowed ? m_allowed : m_refused).insert(question.key, new bool(allowed));
}

bool PasswordCheck::allows(QByteArrayView authorization) {
    const auto found = lookUp(authorization);
    if (const bool* known = std::get_if<bool>(&found))
        return *known;
    const Question& question = std::get<Question>(found);
    const bool allowed = answer(question);
    remember(question, allowed);
    return allowed;
}

} // namespace exporter
