// Basic authentication against the bcrypt hashes of a web configuration, as the exporter-toolkit
// does it: in constant time, a user that does not exist costing as much as a wrong password,
// and the outcome of a check remembered, so that a scrape every few seconds pays for bcrypt
// once rather than every time. bcrypt itself may run on any thread.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCache>

#include <map>
#include <optional>
#include <utility>
#include <variant>

namespace exporter {

// Whether HASH is a bcrypt hash libxcrypt verifies: $2a$, $2b$ or $2y$, a cost of 4 to 31 and
// 53 characters of salt and hash in its alphabet.
bool isBcryptHash(QByteArrayView hash);

// The user and password of an Authorization header's value ("Basic dXNlcjpwYXNz"); none where it
// is not Basic, not base64 or has no colon.
std::optional<std::pair<QByteArray, QByteArray>> basicCredentials(QByteArrayView authorization);

class PasswordCheck {
public:
    // USERS: name, bcrypt hash, as isBcryptHash takes them.
    explicit PasswordCheck(std::map<QByteArray, QByteArray> users);
    PasswordCheck(const PasswordCheck&) = delete;
    PasswordCheck& operator=(const PasswordCheck&) = delete;

    // What bcrypt must tell of a request: whether PASSWORD matches HASH.
    struct Question {
        QByteArray key; // what its outcome is remembered by
        QByteArray hash;
        QByteArray password;
        bool known = false; // the user exists; else HASH is a decoy that never matches
    };

    // Whether anyone is asked for a password at all.
    bool asks() const { return !m_users.empty(); }
    // Whether AUTHORIZATION, an Authorization header's value, is let in, where that is known
    // without bcrypt: remembered, or not Basic credentials at all. Otherwise the question for
    // answer(), whose outcome remember() then keeps.
    std::variant<bool, Question> lookUp(QByteArrayView authorization);
    // bcrypt: slow by design, and safe on any thread.
    static bool answer(const Question& question);
    void remember(const Question& question, bool allowed);

    // All three at once, on this thread.
    bool allows(QByteArrayView authorization);
    // How many outcomes bcrypt gave: what the remembered ones spared.
    int hashed() const { return m_hashed; }

private:
    std::map<QByteArray, QByteArray> m_users;
    QByteArray m_decoy; // a setting at the highest cost of the users, for names that do not exist
    // Outcomes by key, the least used let go first. Apart, so that any number of wrong
    // passwords never pushes out a right one.
    QCache<QByteArray, bool> m_allowed{64};
    QCache<QByteArray, bool> m_refused{256};
    int m_hashed = 0;
};

} // namespace exporter
