#include "history/history_summary.h"

#include <cmath>

namespace history {
namespace {

QString count(qint64 n, const char* one, const char* many) {
    return n == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one))
                  : QStringLiteral("%1 %2").arg(n).arg(QLatin1String(many));
}

// The time between two readings, as a person says it.
QString span(const QDateTime& from, const QDateTime& to) {
    const double days = double(from.secsTo(to)) / 86400;
    if (days < 1)
        return QStringLiteral("less than a day");
    if (days < 14)
        return count(qint64(days), "day", "days");
    if (days < 61)
        return count(qint64(days / 7), "week", "weeks");
    if (days < 730)
        return count(qint64(std::lround(days / 30.44)), "month", "months");
    return count(qint64(std::lround(days / 365.25)), "year", "years");
}

} // namespace

QString summary(const std::vector<Record>& records) {
    std::vector<const Record*> known;
    for (const Record& r : records) {
        if (r.capacityPercent())
            known.push_back(&r);
    }
    if (known.empty())
        return QStringLiteral("No readings of this device's battery yet.");
    const long last = std::lround(*known.back()->capacityPercent());
    if (known.size() == 1)
        return QStringLiteral("One reading so far: %1% of its design.").arg(last);
    const long first = std::lround(*known.front()->capacityPercent());
    const QString over = span(known.front()->time, known.back()->time);
    QString text;
    if (first > last)
        text = QStringLiteral("Lost %1 of capacity in %2 (%3% → %4%)")
                   .arg(count(first - last, "point", "points"), over)
                   .arg(first)
                   .arg(last);
    else if (first < last)
        text = QStringLiteral("Gained %1 of capacity in %2 (%3% → %4%)")
                   .arg(count(last - first, "point", "points"), over)
                   .arg(first)
                   .arg(last);
    else
        text = QStringLiteral("Kept its capacity over %1 (%2%)").arg(over).arg(last);
    if (const std::optional<qint64> cycles = known.back()->cycles)
        text += QStringLiteral(", %1").arg(count(*cycles, "cycle", "cycles"));
    return text + u'.';
}

} // namespace history
