// The battery history on disk: one SQLite file through Qt SQL, a thin layer of statements. WAL
// and a busy timeout let two windows and a script use it at once; PRAGMA user_version carries
// the schema's version, and a file that is not SQLite or fails its quick check is moved aside,
// never deleted.
#pragma once

#include "history/history_record.h"

#include <QString>

#include <stdexcept>
#include <vector>

namespace history {

// $XDG_DATA_HOME/device-info/history.sqlite3, ~/.local/share/device-info/ by default.
QString defaultPath();

// Why the history cannot be used, in words for a person.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Store {
public:
    static constexpr int kSchemaVersion = 2;

    enum class Mode {
        Write, // creates what is missing, moves a corrupt file aside and starts anew
        Read,  // reads what is there, changes nothing
    };
    // Throws StoreError where the history cannot be used there.
    Store(const QString& path, Mode mode);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // What opening it did that a person should hear of ("moved aside ..."); empty mostly.
    const QString& notice() const { return m_notice; }
    const QString& path() const { return m_path; }

    // All of RECORDS or none; throws StoreError.
    void write(const std::vector<Record>& records);
    // Oldest first; every device's where SERIAL is empty.
    std::vector<Record> records(const QString& serial = {}) const;
    std::vector<Device> devices() const;
    // Deletes every record of SERIAL.
    void forget(const QString& serial);

private:
    void open();
    bool healthy();
    void moveAside();
    void migrate();

    // Qt SQL's connection of this store, by its name: closed and let go on every way out, a
    // constructor that throws included, so that no file is left open behind a failure.
    struct Connection {
        Connection();
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        operator const QString&() const { return name; }
        QString name;
    };

    QString m_path;
    Mode m_mode;
    Connection m_connection;
    QString m_notice;
};

} // namespace history
