// The battery history as a script or a spreadsheet takes it: tab-separated lines with a header
// and a JSON array for --history, and CSV for Export CSV. Numbers as numbers, nothing (or null)
// for what the device did not give.
#pragma once

#include "history/history_record.h"

#include <QByteArray>
#include <QJsonObject>

#include <vector>

namespace report {

// time (ISO 8601, UTC), serial, kind, name, maximumCapacity (percent, fullMah, designMah),
// cycles, temperatureC, percent, powerW.
QJsonObject recordJson(const history::Record& record);
QByteArray recordsJson(const std::vector<history::Record>& records);

// A header and a line a record; control characters, tabs among them, shown as escapes.
QByteArray recordsTsv(const std::vector<history::Record>& records);

// RFC 4180, with a header; a text that a spreadsheet would take for a formula is kept as text.
QByteArray recordsCsv(const std::vector<history::Record>& records);

} // namespace report
