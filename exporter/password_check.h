// Basic authentication against the bcrypt hashes of a web configuration, as the exporter-toolkit
// does it: in constant time, a user that does not exist costing as much as a wrong password,
// and the outcome of a check remembered, so that a scrape every few seconds pays for bcrypt
// once rather than every time.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

#include <map>
#include <memory>
#include <optional>
#include <utility>

struct crypt_data;

namespace exporter {

// Whether HASH is a bcrypt hash libxcrypt verifies: $2a$, $2b$ or $2y$, a cost of 4 to 31 and
// 53 characters of salt and hash.
bool isBcryptHash(QByteArrayView hash);

// The user and password of an Authorization header's value ("Basic dXNlcjpwYXNz"); none where it
// is not Basic, not base64 or has no colon.
std::optional<std::pair<QByteArray, QByteArray>> basicCredentials(QByteArrayView authorization);

class PasswordCheck {
public:
    // USERS: name, bcrypt hash, as isBcryptHash takes them.
    explicit PasswordCheck(std::map<QByteArray, QByteArray> users);
    ~PasswordCheck();
    PasswordCheck(const PasswordCheck&) = delete;
    PasswordCheck& operator=(const PasswordCheck&) = delete;

    // Whether anyone is asked for a password at all.
    bool asks() const { return !m_users.empty(); }
    // Whether AUTHORIZATION, an Authorization header's value, names a user and its password.
    bool allows(QByteArrayView authorization);
    // How many times bcrypt ran: what the remembered outcomes spared.
    int hashed() const { return m_hashed; }

private:
    bool verify(const QByteArray& hash, const QByteArray& password);

    std::map<QByteArray, QByteArray> m_users;
    QByteArray m_decoy; // a setting at the highest cost of the users, for names that do not exist
    std::unique_ptr<crypt_data> m_scratch;
    QHash<QByteArray, bool> m_remembered; // by a digest of user, hash and password
    QList<QByteArray> m_order;            // of m_remembered, oldest first
    int m_hashed = 0;
};

} // namespace exporter
