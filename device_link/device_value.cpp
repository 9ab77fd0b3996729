#include "device_link/device_value.h"

#include <QLocale>

#include <cmath>
#include <limits>

bool parseDeviceNumber(const QString& text, double& out) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    // Only plain decimal notation: "nan", "inf" and hex are not numbers a device reports.
    for (const QChar c : trimmed) {
        if (!(c.isDigit() || c == u'+' || c == u'-' || c == u'.' || c == u'e' || c == u'E'))
            return false;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

double DeviceValue::toDouble() const {
    if (isNothing())
        return 0.0;
    if (const double* number = std::get_if<double>(&m_value))
        return *number;
    double parsed = 0.0;
    if (!parseDeviceNumber(std::get<QString>(m_value), parsed))
        throw DeviceValueError("Type mismatch: the device sent text where a number was expected.");
    return parsed;
}

qint32 DeviceValue::toInt32() const {
    const double value = toDouble();
    if (std::isnan(value))
        throw DeviceValueError("Type mismatch: the device sent a value that is not a number.");
    // nearbyint follows the default rounding mode, round-half-to-even.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(std::numeric_limits<qint32>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<qint32>::max()))
        throw DeviceValueError("Overflow: a device value does not fit a 32-bit integer.");
    return static_cast<qint32>(rounded);
}

bool DeviceValue::toBool() const {
    const double value = toDouble();
    return value != 0.0;
}

QString DeviceValue::toString() const {
    if (isNothing())
        return QString();
    if (const QString* text = std::get_if<QString>(&m_value))
        return *text;
    throw DeviceValueError("Type mismatch: the device sent a number where text was expected.");
}

bool DeviceValue::operator==(const QString& text) const {
    if (isNothing())
        return text.isEmpty();
    if (const QString* own = std::get_if<QString>(&m_value))
        return *own == text;
    double parsed = 0.0;
    return parseDeviceNumber(text, parsed) && parsed == std::get<double>(m_value);
}
