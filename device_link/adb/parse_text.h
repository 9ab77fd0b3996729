// What every parser of device output shares: lines as devices end them, the sections our
// combined commands mark, and numbers and "Key: value" lines as devices print them. Pure.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace adb {

// The lines of a device's output with line ends removed (LF or CRLF).
QStringList outputLines(QStringView text);

// A command's output cut at lines reading "::", the marker our combined commands print.
QStringList splitSections(QStringView text, int expected);

// A whole non-negative number as devices print them; nothing for anything else.
std::optional<double> wholeNumber(QStringView text);

// The value of "Key: value" lines, first occurrence, keys compared without case.
std::optional<QString> keyValue(const QStringList& lines, QStringView key);

} // namespace adb
