#include "history/history_store.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

namespace history {
namespace {

// Waits this long for another window or a script to finish writing.
constexpr int kBusyMs = 10000;

// Each schema version's step from the one before; index 0 makes version 1 from an empty file.
const char* const kMigrations[][3] = {
    {"CREATE TABLE devices (id INTEGER PRIMARY KEY, serial TEXT NOT NULL UNIQUE, "
     "kind TEXT NOT NULL, name TEXT, model TEXT)",
     "CREATE TABLE readings (device INTEGER NOT NULL REFERENCES devices(id) ON DELETE CASCADE, "
     "time INTEGER NOT NULL, full_mah REAL, design_mah REAL, cycles INTEGER, "
     "temperature_c REAL, percent REAL)",
     "CREATE INDEX readings_by_device ON readings (device, time)"},
    {"ALTER TABLE readings ADD COLUMN power_w REAL", nullptr, nullptr},
};
static_assert(std::size(kMigrations) == Store::kSchemaVersion);

QVariant orNull(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

QVariant orNull(const std::optional<qint64>& value) {
    return value ? QVariant(*value) : QVariant();
}

std::optional<double> real(const QVariant& value) {
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

QSqlDatabase database(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}

// Runs SQL with VALUES bound in order; throws StoreError with WHAT and the driver's words.
QSqlQuery run(const QString& connection, const QString& sql, const QVariantList& values = {},
              const char* what = "the history could not be read") {
    QSqlQuery query(database(connection));
    if (!query.prepare(sql))
        throw StoreError(QStringLiteral("%1 (%2)")
                             .arg(QLatin1String(what), query.lastError().text())
                             .toStdString());
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw StoreError(QStringLiteral("%1 (%2)")
                             .arg(QLatin1String(what), query.lastError().text())
                             .toStdString());
    return query;
}

} // namespace

QString defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/device-info/history.sqlite3");
}

Store::Connection::Connection() {
    static QAtomicInteger<quint64> next;
    name = QStringLiteral("history-%1").arg(next.fetchAndAddRelaxed(1));
}

Store::Connection::~Connection() {
    database(name).close();
    QSqlDatabase::removeDatabase(name);
}

Store::Store(const QString& path, Mode mode) : m_path(path), m_mode(mode) {
    if (m_mode == Mode::Write) {
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(folder))
            throw StoreError(QStringLiteral("%1 cannot be made").arg(folder).toStdString());
    } else if (!QFile::exists(m_path)) {
        throw StoreError(QStringLiteral("there is no history at %1").arg(m_path).toStdString());
    }
    open();
    if (!healthy()) {
        if (m_mode == Mode::Read)
            throw StoreError(
                QStringLiteral("%1 is not a history Device Info can read: it is not SQLite, or "
                               "is damaged")
                    .arg(m_path)
                    .toStdString());
        moveAside();
        open();
    }
    migrate();
}

Store::~Store() = default;

void Store::open() {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
            .arg(kBusyMs)
            .arg(m_mode == Mode::Read ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!db.open())
        throw StoreError(QStringLiteral("%1 cannot be opened (%2)")
                             .arg(m_path, db.lastError().text())
                             .toStdString());
    if (m_mode == Mode::Write) {
        // A reader beside a writer, and a writer that waits for the other.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    }
    QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys=ON"));
}

bool Store::healthy() {
    QSqlQuery query(database(m_connection));
    return query.exec(QStringLiteral("PRAGMA quick_check")) && query.next() &&
           query.value(0).toString() == QLatin1String("ok");
}

void Store::moveAside() {
    database(m_connection).close();
    QSqlDatabase::removeDatabase(m_connection);
    const QString aside =
        m_path + QStringLiteral(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    // Its journal goes with it: it may hold what the file lacks.
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(m_path + suffix) && !QFile::rename(m_path + suffix, aside + suffix))
            throw StoreError(QStringLiteral("%1 is damaged and cannot be moved aside")
                                 .arg(m_path)
                                 .toStdString());
    }
    m_notice = QStringLiteral("The battery history at %1 was damaged: it was moved to %2, and a "
                              "new one was started.")
                   .arg(m_path, aside);
}

void Store::migrate() {
    const auto version = [this] {
        QSqlQuery query = run(m_connection, QStringLiteral("PRAGMA user_version"));
        return query.next() ? query.value(0).toInt() : 0;
    };
    if (version() > kSchemaVersion)
        throw StoreError(
            QStringLiteral("%1 was written by a newer Device Info").arg(m_path).toStdString());
    if (m_mode == Mode::Read || version() == kSchemaVersion)
        return;
    // Another window may be migrating it too: the first one in does it, the other finds it done.
    run(m_connection, QStringLiteral("BEGIN IMMEDIATE"), {}, "the history could not be set up");
    try {
        for (int from = version(); from < kSchemaVersion; ++from) {
            for (const char* statement : kMigrations[from]) {
                if (statement)
                    run(m_connection, QString::fromLatin1(statement), {},
                        "the history could not be set up");
            }
            run(m_connection, QStringLiteral("PRAGMA user_version = %1").arg(from + 1), {},
                "the history could not be set up");
        }
        run(m_connection, QStringLiteral("COMMIT"), {}, "the history could not be set up");
    } catch (const StoreError&) {
        QSqlQuery(database(m_connection)).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

void Store::write(const std::vector<Record>& records) {
    if (records.empty())
        return;
    const char* what = "the battery history could not be written";
    run(m_connection, QStringLiteral("BEGIN IMMEDIATE"), {}, what);
    try {
        for (const Record& r : records) {
            run(m_connection,
                QStringLiteral(
                    "INSERT INTO devices (serial, kind, name, model) VALUES (?, ?, ?, ?) "
                    "ON CONFLICT (serial) DO UPDATE SET kind = excluded.kind, "
                    "name = excluded.name, model = excluded.model"),
                {r.serial, kindName(r.kind), r.name, r.model}, what);
            run(m_connection,
                QStringLiteral("INSERT INTO readings (device, time, full_mah, design_mah, cycles, "
                               "temperature_c, percent, power_w) SELECT id, ?, ?, ?, ?, ?, ?, ? "
                               "FROM devices WHERE serial = ?"),
                {r.time.toSecsSinceEpoch(), orNull(r.fullMah), orNull(r.designMah),
                 orNull(r.cycles), orNull(r.temperatureC), orNull(r.percent), orNull(r.powerW),
                 r.serial},
                what);
        }
        run(m_connection, QStringLiteral("COMMIT"), {}, what);
    } catch (const StoreError&) {
        QSqlQuery(database(m_connection)).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

std::vector<Record> Store::records(const QString& serial) const {
    const QString select = QStringLiteral(
        "SELECT time, serial, kind, name, model, full_mah, design_mah, cycles, "
        "temperature_c, percent, power_w FROM readings JOIN devices ON devices.id = device "
        "%1 ORDER BY time, readings.rowid");
    QSqlQuery query =
        serial.isEmpty()
            ? run(m_connection, select.arg(QString()))
            : run(m_connection, select.arg(QStringLiteral("WHERE serial = ?")), {serial});
    std::vector<Record> out;
    while (query.next()) {
        // A kind this program never wrote (a file edited by hand) names no device it knows.
        const std::optional<DeviceKind> kind = kindFromName(query.value(2).toString());
        if (!kind)
            continue;
        Record r;
        r.time = QDateTime::fromSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
        r.serial = query.value(1).toString();
        r.kind = *kind;
        r.name = query.value(3).toString();
        r.model = query.value(4).toString();
        r.fullMah = real(query.value(5));
        r.designMah = real(query.value(6));
        if (!query.value(7).isNull())
            r.cycles = query.value(7).toLongLong();
        r.temperatureC = real(query.value(8));
        r.percent = real(query.value(9));
        r.powerW = real(query.value(10));
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<Device> Store::devices() const {
    QSqlQuery query =
        run(m_connection,
            QStringLiteral("SELECT serial, kind, name, model, (SELECT count(*) FROM readings WHERE "
                           "device = devices.id) FROM devices ORDER BY name, serial"));
    std::vector<Device> out;
    while (query.next()) {
        if (const std::optional<DeviceKind> kind = kindFromName(query.value(1).toString()))
            out.push_back({query.value(0).toString(), *kind, query.value(2).toString(),
                           query.value(3).toString(), query.value(4).toInt()});
    }
    return out;
}

void Store::forget(const QString& serial) {
    // Its readings go with it (ON DELETE CASCADE).
    run(m_connection, QStringLiteral("DELETE FROM devices WHERE serial = ?"), {serial},
        "the device's history could not be deleted");
}

} // namespace history
