// One line in plain words on how a battery wore, from its records: what the Battery history
// window says under its chart and gives screen readers.
#pragma once

#include "history/history_record.h"

#include <QString>

#include <vector>

namespace history {

// "Lost 4 points of capacity in 6 months (91% → 87%), 212 cycles."; "One reading so far";
// "No readings of this device's battery yet". RECORDS oldest first.
QString summary(const std::vector<Record>& records);

// Where the capacity is heading, from a least-squares line through RECORDS (oldest first): "At
// this rate, 80% of its design around May 2028."; "Below 80% of its design since March 2026.";
// "No end in sight at this rate." past ten years from NOW. Empty with fewer than three
// readings, less than 60 days of them, or a line that does not fall.
QString forecast(const std::vector<Record>& records, const QDateTime& now);

} // namespace history
