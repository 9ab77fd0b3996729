// A dynamically typed value as the device link delivers it: nothing, a number or a string.
#pragma once

#include <QString>
#include <QtGlobal>

#include <stdexcept>
#include <variant>

// Raised when a device value cannot be converted the way a procedure asks.
class DeviceValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DeviceValue {
public:
    DeviceValue() = default;
    DeviceValue(double number) : m_value(number) {}
    DeviceValue(const QString& text) : m_value(text) {}

    bool isNothing() const { return std::holds_alternative<std::monostate>(m_value); }
    bool isNumber() const { return std::holds_alternative<double>(m_value); }
    bool isString() const { return std::holds_alternative<QString>(m_value); }

    // Nothing is 0; a string converts when it holds a number and fails otherwise.
    double toDouble() const;
    // Rounds to nearest with halves to even; fails when not numeric or out of range.
    qint32 toInt32() const;
    // A non-zero number is true; zero and nothing are false.
    bool toBool() const;
    // The string held; nothing gives "", and a number fails: numbers become text only on purpose.
    QString toString() const;

    // Nothing equals the empty string; a number equals a string only when that string is the
    // same number.
    bool operator==(const QString& text) const;

private:
    std::variant<std::monostate, double, QString> m_value;
};

// Parses a string the way device values are read as numbers: optional surrounding blanks, an
// optional sign, decimal digits with an optional fraction and exponent. Returns false otherwise.
bool parseDeviceNumber(const QString& text, double& out);
