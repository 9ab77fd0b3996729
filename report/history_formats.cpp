#include "report/history_formats.h"

#include "display/text_format.h"
#include "report/reading_values.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace report {
namespace {

QString isoTime(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

template <typename T> QJsonValue orNull(const std::optional<T>& value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

template <typename T> QByteArray field(const std::optional<T>& value) {
    return value ? shortestNumber(double(*value)) : QByteArray();
}

std::optional<double> capacityPercent(const history::Record& r) {
    const std::optional<double> percent = r.capacityPercent();
    return percent ? std::optional<double>(hundredths(*percent)) : std::nullopt;
}

// Quoted where it must be; a leading =, +, - or @ is kept from being a spreadsheet's formula.
QByteArray csvText(const QString& text) {
    QByteArray out = text.toUtf8();
    if (!out.isEmpty() && QByteArray("=+-@").contains(out.front()))
        out.prepend('\'');
    if (out.contains(',') || out.contains('"') || out.contains('\n') || out.contains('\r'))
        out = '"' + out.replace('"', "\"\"") + '"';
    return out;
}

} // namespace

QJsonObject recordJson(const history::Record& r) {
    QJsonValue capacity;
    if (r.fullMah && r.designMah)
        capacity = QJsonObject{{QStringLiteral("percent"), orNull(capacityPercent(r))},
                               {QStringLiteral("fullMah"), *r.fullMah},
                               {QStringLiteral("designMah"), *r.designMah}};
    return QJsonObject{{QStringLiteral("time"), isoTime(r.time)},
                       {QStringLiteral("serial"), r.serial},
                       {QStringLiteral("kind"), kindName(r.kind)},
                       {QStringLiteral("name"), r.name.isEmpty() ? QJsonValue() : r.name},
                       {QStringLiteral("maximumCapacity"), capacity},
                       {QStringLiteral("cycles"), orNull(r.cycles)},
                       {QStringLiteral("temperatureC"), orNull(r.temperatureC)},
                       {QStringLiteral("percent"), orNull(r.percent)},
                       {QStringLiteral("powerW"), orNull(r.powerW)}};
}

QByteArray recordsJson(const std::vector<history::Record>& records) {
    QJsonArray array;
    for (const history::Record& r : records)
        array.append(recordJson(r));
    return QJsonDocument(array).toJson();
}

QByteArray recordsTsv(const std::vector<history::Record>& records) {
    QByteArray out =
        "time\tserial\tkind\tname\tmaximumCapacityPercent\tfullMah\tdesignMah\tcycles\t"
        "temperatureC\tpercent\tpowerW\n";
    for (const history::Record& r : records) {
        const QList<QByteArray> fields{isoTime(r.time).toUtf8(),
                                       display::visibleControls(r.serial).toUtf8(),
                                       kindName(r.kind).toUtf8(),
                                       display::visibleControls(r.name).toUtf8(),
                                       field(capacityPercent(r)),
                                       field(r.fullMah),
                                       field(r.designMah),
                                       field(r.cycles),
                                       field(r.temperatureC),
                                       field(r.percent),
                                       field(r.powerW)};
        out += fields.join('\t') + '\n';
    }
    return out;
}

QByteArray recordsCsv(const std::vector<history::Record>& records) {
    QByteArray out = "time,serial,kind,name,model,maximum_capacity_percent,full_mah,design_mah,"
                     "cycles,temperature_c,percent,power_w\r\n";
    for (const history::Record& r : records) {
        const QList<QByteArray> fields{
            isoTime(r.time).toUtf8(), csvText(r.serial),  csvText(kindName(r.kind)),
            csvText(r.name),          csvText(r.model),   field(capacityPercent(r)),
            field(r.fullMah),         field(r.designMah), field(r.cycles),
            field(r.temperatureC),    field(r.percent),   field(r.powerW)};
        out += fields.join(',') + "\r\n";
    }
    return out;
}

} // namespace report
