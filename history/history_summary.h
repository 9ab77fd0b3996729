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

} // namespace history
