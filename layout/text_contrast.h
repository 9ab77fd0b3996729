// Text colours that stay readable on whatever background the desktop's theme gives the window.
#pragma once

#include <QColor>

namespace layout {

// The WCAG contrast ratio of two colours, from 1 (none) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// PREFERRED where it reaches MINIMUM against BACKGROUND; otherwise the same hue lightened (or
// darkened) just enough to reach it.
QColor readableOn(const QColor& preferred, const QColor& background, double minimum = 4.5);

} // namespace layout
