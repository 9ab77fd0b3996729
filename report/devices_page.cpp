#include "report/devices_page.h"

#include "report/json_report.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace report {
namespace {

// Each of these, and the order of rows, is what devices.js makes of the same JSON: keep both
// alike, as the browser test holds them.
struct Cell {
    const char* label;
    QString main;
    QString sub;
    bool alert = false;
};

QString oneDecimal(double value) {
    return QString::number(std::floor(value * 10 + 0.5) / 10, 'f', 1);
}

QString stateWords(const QJsonObject& d) {
    QString state = d[QLatin1String("state")].toString().replace(u'-', u' ');
    if (!state.isEmpty())
        state[0] = state[0].toUpper();
    return (d[QLatin1String("kind")].toString() == QLatin1String("ios")
                ? QStringLiteral("iOS")
                : QStringLiteral("Android")) +
           QStringLiteral(" · ") + state;
}

bool read(const QJsonObject& d) {
    return d[QLatin1String("battery")].isObject();
}

QString shownName(const QJsonObject& d) {
    const QString name = d[QLatin1String("name")].toString();
    return name.isEmpty() ? d[QLatin1String("serial")].toString() : name;
}

std::vector<Cell> cells(const QJsonObject& d) {
    const QString serial = d[QLatin1String("serial")].toString();
    const QString name = d[QLatin1String("name")].toString();
    const QString model = d[QLatin1String("model")].toString();
    QStringList about;
    for (const QString& part : {model, name.isEmpty() ? QString() : serial}) {
        if (!part.isEmpty())
            about << part;
    }
    std::vector<Cell> out{{"Device", shownName(d), about.join(QStringLiteral(" · "))},
                          {"State", stateWords(d), QString()},
                          {"Charge", QStringLiteral("—"), QString()},
                          {"Health", QStringLiteral("—"), QString()},
                          {"Temperature", QStringLiteral("—"), QString()},
                          {"Storage", QStringLiteral("—"), QString()},
                          {"Last read", QStringLiteral("—"), QString()}};
    if (d[QLatin1String("state")].toString() != QLatin1String("ready") || !read(d)) {
        out[1].alert = true;
        out[1].sub = d[QLatin1String("status")].toString();
    }
    const QJsonObject battery = d[QLatin1String("battery")].toObject();
    if (const QJsonValue percent = battery[QLatin1String("percent")]; percent.isDouble()) {
        out[2].main = QString::number(std::floor(percent.toDouble() + 0.5)) + u'%';
        out[2].sub = battery[QLatin1String("charging")].toBool()  ? QStringLiteral("charging")
                     : battery[QLatin1String("onMains")].toBool() ? QStringLiteral("on mains")
                                                                  : QStringLiteral("on battery");
    }
    const QJsonValue capacity = battery[QLatin1String("maximumCapacity")];
    if (capacity.isObject()) {
        const double percent = capacity[QLatin1String("percent")].toDouble();
        out[3].alert = percent < kWornPercent;
        // Whole points down, as the charge bar shows them: a worn battery never reads 80%.
        out[3].main = QString::number(std::floor(percent)) + QStringLiteral("% of design");
    }
    if (const QJsonValue cycles = battery[QLatin1String("cycles")]; cycles.isDouble())
        out[3].sub = QString::number(qint64(cycles.toDouble())) + QStringLiteral(" cycles");
    if (const QJsonValue celsius = battery[QLatin1String("temperatureC")]; celsius.isDouble()) {
        out[4].alert = celsius.toDouble() > kHotCelsius;
        out[4].main = oneDecimal(celsius.toDouble()) + QStringLiteral(" °C");
    }
    if (const QJsonValue storage = d[QLatin1String("storage")]; storage.isObject()) {
        out[5].main = oneDecimal(storage[QLatin1String("free")].toDouble() / 1e9) +
                      QStringLiteral(" GB free");
        out[5].sub = QStringLiteral("of ") +
                     oneDecimal(storage[QLatin1String("total")].toDouble() / 1e9) +
                     QStringLiteral(" GB");
    }
    if (const QJsonValue at = d[QLatin1String("readAt")]; at.isString())
        out[6].main = QDateTime::fromString(at.toString(), Qt::ISODate)
                          .toLocalTime()
                          .toString(QStringLiteral("HH:mm:ss"));
    // Not by colour alone: a sign before, and a word after where the value is past its alert.
    out[3].main += out[3].alert ? QStringLiteral(" (worn)") : QString();
    out[4].main += out[4].alert ? QStringLiteral(" (hot)") : QString();
    for (Cell& cell : out) {
        if (cell.alert)
            cell.main.prepend(QStringLiteral("⚠ "));
    }
    return out;
}

// A row's place by its alerts: not ready or not read, hot, worn, the rest.
int rank(const std::vector<Cell>& cells) {
    return cells[1].alert ? 0 : cells[4].alert ? 1 : cells[3].alert ? 2 : 3;
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
         {"address", "memory", "storage", "processor", "battery", "screen", "readAt"})
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
        std::vector<Cell> cells;
        std::tuple<int, QString, QString> key;
    };
    std::vector<Row> rows;
    for (const QJsonValue& value : devices) {
        const QJsonObject d = value.toObject();
        std::vector<Cell> made = cells(d);
        const int place = rank(made);
        rows.push_back({std::move(made),
                        {place, shownName(d).toLower(), d[QLatin1String("serial")].toString()}});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.key < b.key; });
    QByteArray body;
    for (const Row& row : rows) {
        body += "<tr data-serial=\"" + escaped(std::get<2>(row.key)) + '"' +
                (std::get<0>(row.key) == 0 ? QByteArray(" class=\"not-ready\"") : QByteArray()) +
                '>';
        for (const Cell& c : row.cells)
            body += QByteArray("<td data-label=\"") + c.label + '"' +
                    (c.alert ? QByteArray(" class=\"alert\"") : QByteArray()) +
                    "><span class=\"main\">" + escaped(c.main) + "</span><span class=\"sub\">" +
                    escaped(c.sub) + "</span></td>";
        body += "</tr>\n";
    }
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
           "\">\n<thead><tr><th scope=\"col\">Device</th><th scope=\"col\">State</th>"
           "<th scope=\"col\">Charge</th><th scope=\"col\">Health</th>"
           "<th scope=\"col\">Temperature</th><th scope=\"col\">Storage</th>"
           "<th scope=\"col\">Last read</th></tr></thead>\n<tbody>\n" +
           body + "</tbody>\n</table>\n<p id=\"empty\"" + (rows.empty() ? "" : " hidden") +
           ">No device is attached.</p>\n</main>\n</body>\n</html>\n";
}

} // namespace report
