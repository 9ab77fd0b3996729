// Number formats the window's procedures share.
#pragma once

#include <QString>
#include <QtGlobal>

namespace display {

// The number-to-text conversion: digits preceded by a sign position, a blank for zero and
// positive numbers and "-" for negative ones (240 gives " 240").
QString numberToText(qint64 value);

// A whole number of bytes with its digits grouped by the locale's thousands separator, no
// leading zeros and no decimals; zero gives no digits at all.
QString groupedWholeNumber(double value);

// The share in use, as the usage bars show it. An empty total (a storage card with no space)
// reads as nothing in use rather than failing, and whatever a device reports stays on the bar's
// scale.
float usagePercent(double total, double remaining);

// TEXT with each control character shown as a visible escape ("\e", "\t", "\x07"), so that
// a device's name cannot ring a bell or recolour a terminal it is pasted into.
QString visibleControls(const QString& text);

} // namespace display
