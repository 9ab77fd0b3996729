#include "report/json_report.h"

#include "display/text_format.h"
#include "report/reading_values.h"

#include <QJsonArray>

#include <cmath>

namespace report {
namespace {

QJsonValue orNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

template <typename T> QJsonValue orNull(const std::optional<T>& value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

// A current to the milliampere, a power to the hundredth of a watt: what devices measure.
QJsonValue rounded(const std::optional<double>& value, double steps) {
    return value ? QJsonValue(std::round(*value * steps) / steps) : QJsonValue();
}

QJsonValue bytesJson(const std::optional<device::ByteCounts>& counts, const char* remaining) {
    if (!counts)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("total"), qint64(counts->total)},
                       {QLatin1String(remaining), qint64(counts->remaining)},
                       {QStringLiteral("usedPercent"),
                        hundredths(display::usagePercent(counts->total, counts->remaining))}};
}

QJsonObject batteryJson(const DeviceReading& r) {
    const BatteryValues b = batteryValues(r);
    QJsonObject battery{{QStringLiteral("present"), orNull(b.present)},
                        {QStringLiteral("charging"), orNull(b.charging)},
                        {QStringLiteral("percent"), orNull(b.percent)},
                        {QStringLiteral("secondsLeft"), orNull(b.secondsLeft)},
                        {QStringLiteral("secondsToFull"), orNull(b.secondsToFull)},
                        {QStringLiteral("onMains"), orNull(b.onMains)},
                        {QStringLiteral("health"), orNull(b.health)},
                        {QStringLiteral("temperatureC"), orNull(b.temperatureC)},
                        {QStringLiteral("voltageV"), orNull(b.voltageV)},
                        {QStringLiteral("cycles"), orNull(b.cycles)},
                        {QStringLiteral("level"), orNull(b.level)},
                        {QStringLiteral("currentA"), rounded(b.currentA, 1000)},
                        {QStringLiteral("powerW"), rounded(b.powerW, 100)},
                        {QStringLiteral("chargerW"), rounded(b.chargerW, 100)},
                        {QStringLiteral("maximumCapacity"), QJsonValue()}};
    if (b.healthPercent)
        battery.insert(
            QStringLiteral("maximumCapacity"),
            QJsonObject{{QStringLiteral("percent"), hundredths(*b.healthPercent)},
                        {QStringLiteral("fullMah"),
                         b.capacity ? QJsonValue(b.capacity->fullMah) : QJsonValue()},
                        {QStringLiteral("designMah"),
                         b.capacity ? QJsonValue(b.capacity->designMah) : QJsonValue()}});
    return battery;
}

} // namespace

QJsonObject readingJson(const DeviceReading& r) {
    const ProcessorFacts& cpu = r.details.cpu;
    return QJsonObject{{QStringLiteral("schema"), kReportSchema},
                       {QStringLiteral("serial"), r.serial},
                       {QStringLiteral("kind"), kindName(r.kind)},
                       {QStringLiteral("type"), orNull(r.details.system.type)},
                       {QStringLiteral("transport"), orNull(r.transport)},
                       {QStringLiteral("wifiAddress"), orNull(r.wifiAddress)},
                       {QStringLiteral("name"), orNull(r.name)},
                       {QStringLiteral("status"), r.status},
                       {QStringLiteral("address"), orNull(r.address)},
                       {QStringLiteral("memory"), bytesJson(r.memory, "available")},
                       {QStringLiteral("storage"), bytesJson(r.storage, "free")},
                       {QStringLiteral("processor"),
                        QJsonObject{{QStringLiteral("type"), r.processorCode},
                                    {QStringLiteral("abis"), QJsonArray::fromStringList(cpu.abis)},
                                    {QStringLiteral("systemOnChip"), orNull(cpu.systemOnChip)},
                                    {QStringLiteral("cores"),
                                     cpu.cores > 0 ? QJsonValue(cpu.cores) : QJsonValue()}}},
                       {QStringLiteral("battery"), batteryJson(r)},
                       {QStringLiteral("screen"),
                        r.screen.isValid()
                            ? QJsonValue(QJsonObject{{QStringLiteral("width"), r.screen.width()},
                                                     {QStringLiteral("height"), r.screen.height()}})
                            : QJsonValue()}};
}

QJsonObject listedJson(const survey::ListedDevice& d) {
    return QJsonObject{{QStringLiteral("serial"), d.serial},
                       {QStringLiteral("kind"), kindName(d.kind)},
                       {QStringLiteral("transport"), orNull(d.transport)},
                       {QStringLiteral("wifiAddress"), orNull(d.wifiAddress)},
                       {QStringLiteral("state"), d.state},
                       {QStringLiteral("name"), orNull(d.name)},
                       {QStringLiteral("model"), orNull(d.model)}};
}

} // namespace report
