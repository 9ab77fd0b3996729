#include "report/devices_page.h"

#include "report/json_report.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace report {
namespace {

// Each cell, and the order of rows, is what devices.js makes of the same JSON: keep both alike,
// as the browser test holds them. The page's columns are named in its header, and the script
// takes their order from there.
struct Cell {
    QString main = QStringLiteral("—");
    QString sub;
    bool alert = false;
};

struct Cells {
    Cell device, state, charge, power, health, temperature, storage, lastRead;
};

struct Column {
    const char* name; // as devices.js names the cell
    const char* label;
    Cell Cells::*cell;
};
const Column kColumns[] = {
    {"device", "Device", &Cells::device},    {"state", "State", &Cells::state},
    {"charge", "Charge", &Cells::charge},    {"power", "Power", &Cells::power},
    {"health", "Health", &Cells::health},    {"temperature", "Temperature", &Cells::temperature},
    {"storage", "Storage", &Cells::storage}, {"lastRead", "Last read", &Cells::lastRead}};

QString oneDecimal(double value) {
    return QString::number(std::floor(value * 10 + 0.5) / 10, 'f', 1);
}

// The power into the battery, signed: "+7.6 W", "−1.9 W", or its current where that is all.
Cell powerCell(const QJsonObject& battery) {
    Cell out;
    const QJsonValue power = battery[QLatin1String("powerW")];
    const QJsonValue current = battery[QLatin1String("currentA")];
    const double value = power.isDouble() ? power.toDouble() : current.toDouble();
    if (power.isDouble() || current.isDouble()) {
        const QString sign = value > 0   ? QStringLiteral("+")
                             : value < 0 ? QStringLiteral("−")
                                         : QString();
        out.main = sign + (power.isDouble()
                               ? oneDecimal(std::abs(value)) + QStringLiteral(" W")
                               : QString::number(std::abs(value), 'f', 2) + QStringLiteral(" A"));
        out.alert =
            device::draining(current.isDouble() ? std::optional(current.toDouble()) : std::nullopt,
                             power.isDouble() ? std::optional(power.toDouble()) : std::nullopt,
                             battery[QLatin1String("onMains")].toBool());
    }
    if (const QJsonValue charger = battery[QLatin1String("chargerW")]; charger.isDouble())
        out.sub = device::wattsText(charger.toDouble()) + QStringLiteral(" W charger");
    return out;
}

QString stateWords(const QJsonObject& d) {
    QString state = d[QLatin1String("state")].toString().replace(u'-', u' ');
    if (!state.isEmpty())
        state[0] = state[0].toUpper();
    const QString kind = d[QLatin1String("kind")].toString();
    QString type = d[QLatin1String("type")].toString().replace(u'-', u' ');
    if (!type.isEmpty())
        type[0] = type[0].toUpper();
    const QString system = kind == QLatin1String("ios")      ? QStringLiteral("iOS")
                           : kind == QLatin1String("upower") ? (type.isEmpty() ? kind : type)
                                                             : QStringLiteral("Android");
    return system + QStringLiteral(" · ") + state;
}

bool read(const QJsonObject& d) {
    return d[QLatin1String("battery")].isObject();
}

QString shownName(const QJsonObject& d) {
    const QString name = d[QLatin1String("name")].toString();
    return name.isEmpty() ? d[QLatin1String("serial")].toString() : name;
}

Cells cells(const QJsonObject& d) {
    const QString serial = d[QLatin1String("serial")].toString();
    const QString name = d[QLatin1String("name")].toString();
    const QString model = d[QLatin1String("model")].toString();
    QStringList about;
    for (const QString& part : {model, name.isEmpty() ? QString() : serial}) {
        if (!part.isEmpty())
            about << part;
    }
    Cells out;
    out.device = {shownName(d), about.join(QStringLiteral(" · "))};
    out.state.main = stateWords(d);
    if (d[QLatin1String("state")].toString() != QLatin1String("ready") || !read(d)) {
        out.state.alert = true;
        out.state.sub = d[QLatin1String("status")].toString();
    }
    const QJsonObject battery = d[QLatin1String("battery")].toObject();
    if (const QJsonValue percent = battery[QLatin1String("percent")]; percent.isDouble()) {
        out.charge.main = QString::number(std::floor(percent.toDouble() + 0.5)) + u'%';
        out.charge.sub = battery[QLatin1String("charging")].toBool() ? QStringLiteral("charging")
                         : battery[QLatin1String("onMains")].toBool()
                             ? QStringLiteral("on mains")
                             : QStringLiteral("on battery");
    }
    out.power = powerCell(battery);
    const QJsonValue capacity = battery[QLatin1String("maximumCapacity")];
    if (capacity.isObject()) {
        const double percent = capacity[QLatin1String("percent")].toDouble();
        out.health.alert = percent < kWornPercent;
        // Whole points down, as the charge bar shows them: a worn battery never reads 80%.
        out.health.main = QString::number(std::floor(percent)) + QStringLiteral("% of design");
    }
    if (const QJsonValue cycles = battery[QLatin1String("cycles")]; cycles.isDouble())
        out.health.sub = QString::number(qint64(cycles.toDouble())) + QStringLiteral(" cycles");
    if (const QJsonValue celsius = battery[QLatin1String("temperatureC")]; celsius.isDouble()) {
        out.temperature.alert = celsius.toDouble() > kHotCelsius;
        out.temperature.main = oneDecimal(celsius.toDouble()) + QStringLiteral(" °C");
    }
    if (const QJsonValue storage = d[QLatin1String("storage")]; storage.isObject()) {
        out.storage.main = oneDecimal(storage[QLatin1String("free")].toDouble() / 1e9) +
                           QStringLiteral(" GB free");
        out.storage.sub = QStringLiteral("of ") +
                          oneDecimal(storage[QLatin1String("total")].toDouble() / 1e9) +
                          QStringLiteral(" GB");
    }
    if (const QJsonValue at = d[QLatin1String("readAt")]; at.isString())
        out.lastRead.main = QDateTime::fromString(at.toString(), Qt::ISODate)
                                .toLocalTime()
                                .toString(QStringLiteral("HH:mm:ss"));
    // Not by colour alone: a sign before, and a word after where the value is past its alert.
    out.health.main += out.health.alert ? QStringLiteral(" (worn)") : QString();
    out.temperature.main += out.temperature.alert ? QStringLiteral(" (hot)") : QString();
    out.power.main += out.power.alert ? QStringLiteral(" (draining)") : QString();
    for (const Column& column : kColumns) {
        if (Cell& cell = out.*column.cell; cell.alert)
            cell.main.prepend(QStringLiteral("⚠ "));
    }
    return out;
}

// A row's place by its alerts: draining on mains, not ready or not read, hot, worn, the rest.
int rank(const Cells& cells) {
    return cells.power.alert         ? 0
           : cells.state.alert       ? 1
           : cells.temperature.alert ? 2
           : cells.health.alert      ? 3
                                     : 4;
}

QByteArray escaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

QString isoTime(const std::optional<double>& unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(qint64(*unixSeconds * 1000), Qt::UTC)
        .toString(Qt::ISODate);
}

} // namespace

QJsonObject watchedJson(const WatchedDevice& d) {
    const QJsonValue model = d.reading && !d.reading->details.system.model.isEmpty()
                                 ? QJsonValue(d.reading->details.system.model)
                                 : QJsonValue();
    if (d.up()) {
        QJsonObject out = readingJson(*d.reading);
        out.insert(QStringLiteral("state"), d.listed.state);
        out.insert(QStringLiteral("model"), model);
        out.insert(QStringLiteral("readAt"),
                   d.lastReadTime ? QJsonValue(isoTime(d.lastReadTime)) : QJsonValue());
        return out;
    }
    const QString status =
        survey::isReady(d.listed)
            ? (d.readErrors > 0 ? QStringLiteral("Its last read failed; trying again.")
                                : QStringLiteral("It has not been read yet."))
            : survey::remedy(d.listed);
    QJsonObject out = listedJson(d.listed);
    out.insert(QStringLiteral("schema"), kReportSchema);
    out.insert(QStringLiteral("status"), status);
    out.insert(QStringLiteral("model"), model);
    for (const char* none :
         {"type", "address", "memory", "storage", "processor", "battery", "screen", "readAt"})
        out.insert(QLatin1String(none), QJsonValue());
    return out;
}

QJsonArray devicesJson(const std::vector<WatchedDevice>& devices) {
    QJsonArray out;
    for (const WatchedDevice& d : devices)
        out.append(watchedJson(d));
    return out;
}

QByteArray devicesPage(const QJsonArray& devices, int intervalSeconds) {
    struct Row {
        Cells cells;
        int rank;
        QString name; // lower case, for the order
        QString serial;
        auto key() const { return std::tie(rank, name, serial); }
    };
    std::vector<Row> rows;
    for (const QJsonValue& value : devices) {
        const QJsonObject d = value.toObject();
        Cells made = cells(d);
        const int place = rank(made);
        rows.push_back({std::move(made), place, shownName(d).toLower(),
                        d[QLatin1String("serial")].toString()});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.key() < b.key(); });
    QByteArray body;
    for (const Row& row : rows) {
        body += "<tr data-serial=\"" + escaped(row.serial) + '"' +
                (row.cells.state.alert ? QByteArray(" class=\"not-ready\"") : QByteArray()) + '>';
        for (const Column& column : kColumns) {
            const Cell& c = row.cells.*column.cell;
            body += QByteArray("<td data-label=\"") + column.label + '"' +
                    (c.alert ? QByteArray(" class=\"alert\"") : QByteArray()) +
                    "><span class=\"main\">" + escaped(c.main) + "</span><span class=\"sub\">" +
                    escaped(c.sub) + "</span></td>";
        }
        body += "</tr>\n";
    }
    QByteArray head;
    for (const Column& column : kColumns)
        head += QByteArray("<th scope=\"col\" data-column=\"") + column.name + "\">" +
                column.label + "</th>";
    const QByteArray count = QByteArray::number(rows.size());
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"color-scheme\" content=\"light dark\">\n"
           "<title>Devices — Device Info</title>\n"
           "<link rel=\"icon\" href=\"/device-info.png\">\n"
           "<link rel=\"stylesheet\" href=\"/devices.css\">\n"
           "<script src=\"/devices.js\" defer></script>\n</head>\n<body>\n<header>\n"
           "<h1>Devices on this computer</h1>\n<p id=\"summary\">" +
           count + (rows.size() == 1 ? " device" : " devices") + " · read every " +
           QByteArray::number(intervalSeconds) + " s · updated " +
           QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")).toUtf8() +
           "</p>\n<nav><a href=\"/devices.json\">JSON</a> · <a href=\"/metrics\">Metrics</a>"
           "</nav>\n</header>\n<main>\n<table id=\"devices\" data-interval=\"" +
           QByteArray::number(intervalSeconds) + "\" data-hot=\"" +
           QByteArray::number(kHotCelsius) + "\" data-worn=\"" + QByteArray::number(kWornPercent) +
           "\" data-drain-watts=\"" + QByteArray::number(device::kDrainWatts) +
           "\" data-drain-amperes=\"" + QByteArray::number(device::kDrainAmperes) +
           "\">\n<thead><tr>" + head + "</tr></thead>\n<tbody>\n" + body +
           "</tbody>\n</table>\n<p id=\"empty\"" + (rows.empty() ? "" : " hidden") +
           ">No device is attached.</p>\n</main>\n</body>\n</html>\n";
}

} // namespace report
