#include "history/history_summary.h"

#include <QLocale>

#include <algorithm>
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

// What the shipped alerting rules and most makers call worn out.
constexpr double kWorn = 80;

QString month(const QDateTime& time) {
    return QLocale(QLocale::English).toString(time.toUTC().date(), QStringLiteral("MMMM yyyy"));
}

} // namespace

QString forecast(const std::vector<Record>& records, const QDateTime& now) {
    std::vector<std::pair<double, double>> points; // days since the first, percent
    for (const Record& r : records) {
        if (const std::optional<double> percent = r.capacityPercent())
            points.emplace_back(double(records.front().time.msecsTo(r.time)) / 86400000.0,
                                *percent);
    }
    if (points.size() < 3 || points.back().first - points.front().first < 60)
        return {};
    if (points.back().second < kWorn) {
        // Since the first reading of the last run below it: the one after the last above.
        const auto above = std::find_if(points.rbegin(), points.rend(),
                                        [](const auto& point) { return point.second >= kWorn; });
        const QDateTime at =
            records.front().time.addMSecs(qint64(above.base()->first * 86400000.0));
        return QStringLiteral("Below 80% of its design since %1.").arg(month(at));
    }
    double meanX = 0, meanY = 0;
    for (const auto& [x, y] : points) {
        meanX += x;
        meanY += y;
    }
    meanX /= double(points.size());
    meanY /= double(points.size());
    double covariance = 0, variance = 0;
    for (const auto& [x, y] : points) {
        covariance += (x - meanX) * (y - meanY);
        variance += (x - meanX) * (x - meanX);
    }
    const double slope = covariance / variance; // percent a day
    if (!(slope < 0))
        return {};
    const double days = meanX + (kWorn - meanY) / slope;
    const QDateTime first = records.front().time;
    if (days > double(first.daysTo(now.addYears(10))))
        return QStringLiteral("No end in sight at this rate.");
    // A line that crossed already while the last reading has not: this month, not the past.
    const QDateTime at = std::max(first.addSecs(qint64(days * 86400)), now);
    return QStringLiteral("At this rate, 80% of its design around %1.").arg(month(at));
}

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
