#include "device_link/adb/power_parsers.h"

#include "device_link/adb/parse_text.h"

#include <QRegularExpression>

namespace adb {

std::optional<PowerStatus> parseBattery(QStringView dumpsys, QStringView timeToEmpty,
                                        QStringView timeToFull) {
    const QStringList lines = outputLines(dumpsys);
    const auto present = keyValue(lines, u"present");
    const auto status = keyValue(lines, u"status");
    const auto level = keyValue(lines, u"level");
    if (!present && !status && !level)
        return std::nullopt;

    PowerStatus power;
    std::optional<double> percent;
    if (level) {
        if (const auto raw = wholeNumber(*level)) {
            const auto scale = keyValue(lines, u"scale");
            const auto scaleValue = scale ? wholeNumber(*scale) : std::nullopt;
            const double divisor = scaleValue && *scaleValue > 0 ? *scaleValue : 100.0;
            percent = *raw * 100.0 / divisor;
        }
    }
    if (percent)
        power.percent = *percent;

    const bool absent =
        present && present->compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
    // BatteryManager.BATTERY_STATUS_CHARGING is 2.
    power.flag = device::batteryFlag(!absent, status && wholeNumber(*status) == 2.0, percent);

    // Several supplies may answer; the first positive value is the battery's.
    auto firstTime = [](QStringView text) -> std::optional<double> {
        for (const QString& line : outputLines(text)) {
            if (const auto seconds = wholeNumber(line); seconds && *seconds > 0)
                return seconds;
        }
        return std::nullopt;
    };
    power.lifeTime = firstTime(timeToEmpty).value_or(device::kUnknownTime);
    power.fullLifeTime = firstTime(timeToFull).value_or(device::kUnknownTime);
    return power;
}

namespace {

// A whole number that may be negative, as sysfs and dumpsys print currents.
std::optional<double> signedNumber(QStringView text) {
    text = text.trimmed();
    const bool negative = text.startsWith(u'-');
    const auto magnitude = wholeNumber(negative || text.startsWith(u'+') ? text.mid(1) : text);
    return magnitude && negative ? std::optional<double>(-*magnitude) : magnitude;
}

std::optional<double> firstLineNumber(QStringView text) {
    for (const QString& line : outputLines(text)) {
        if (!line.trimmed().isEmpty())
            return signedNumber(line);
    }
    return std::nullopt;
}

} // namespace

device::PowerFlow parsePowerFlow(QStringView dumpsys, QStringView currentNow,
                                 QStringView voltageNow) {
    const QStringList lines = outputLines(dumpsys);
    const auto number = [&lines](QStringView key) {
        const auto value = keyValue(lines, key);
        return value ? signedNumber(*value) : std::nullopt;
    };
    // BatteryManager.BATTERY_STATUS_CHARGING is 2, _DISCHARGING 3.
    const auto status = number(u"status");
    const device::Flow flow = status == 2.0   ? device::Flow::In
                              : status == 3.0 ? device::Flow::Out
                                              : device::Flow::AsSaid;
    device::PowerFlow out;
    std::optional<double> amperes;
    if (const auto micro = firstLineNumber(currentNow))
        amperes = *micro / 1e6;
    else if (const auto milli = number(u"current now"))
        amperes = *milli / 1e3;
    out.currentA = device::flowing(amperes, flow, device::kMostAmperes);
    if (const auto micro = firstLineNumber(voltageNow); micro && *micro >= 1e6 && *micro <= 60e6)
        out.voltageV = *micro / 1e6;
    const auto maxMicroamps = number(u"Max charging current");
    const auto maxMicrovolts = number(u"Max charging voltage");
    if (parseMainsStatus(dumpsys) == 1 && maxMicroamps && maxMicrovolts)
        out.chargerW = device::chargerRating(*maxMicroamps * *maxMicrovolts / 1e12);
    return out;
}

qint32 parseMainsStatus(QStringView dumpsys) {
    bool any = false;
    for (const QString& line : outputLines(dumpsys)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QString key = line.left(colon).trimmed();
        static const QRegularExpression powered(QStringLiteral("^(AC|USB|Wireless|Dock) powered$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (!powered.match(key).hasMatch())
            continue;
        const QString value = line.mid(colon + 1).trimmed();
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return 1;
        if (value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            any = true;
    }
    return any ? 0 : 255;
}

std::optional<device::BatteryCapacity> parseBatteryCapacity(QStringView batterystats) {
    // AOSP's BatteryStats.dumpLocked (frameworks/base core/java/android/os/BatteryStats.java,
    // read at aosp-mirror 0054447) prints each figure only when positive, through makemAh:
    // whole from 100 mAh up, decimals below ("  Estimated battery capacity: 4.00 mAh").
    static const QRegularExpression figure(QStringLiteral(
        "^\\s*(Estimated|Last learned) battery capacity:\\s*(\\d{1,9}(?:\\.\\d{1,3})?) mAh\\s*$"));
    std::optional<double> estimated;
    std::optional<double> learned;
    for (const QString& line : outputLines(batterystats)) {
        const QRegularExpressionMatch m = figure.match(line);
        if (!m.hasMatch())
            continue;
        auto& value = m.captured(1) == QLatin1String("Estimated") ? estimated : learned;
        if (!value)
            value = m.captured(2).toDouble();
    }
    return device::batteryCapacity(learned, estimated);
}

} // namespace adb
