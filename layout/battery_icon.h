// The battery the panel's item shows, drawn by the program so that no icon theme is needed:
// a body filled to the charge, a bolt while it charges, a warning sign over it where the device
// needs a look. Its edges fall on whole pixels at every size a panel asks for, and a dark outline
// with a light rim reads on light and dark panels alike.
#pragma once

#include <QImage>

namespace layout {

struct BatteryIcon {
    enum class Tone { Good, Low, Critical };
    double percent = 0; // 0 to 100
    bool charging = false;
    bool warning = false;
    Tone tone = Tone::Good;
    bool operator==(const BatteryIcon&) const = default;
};

// The sizes a panel picks from, in pixels.
inline constexpr int kBatteryIconSizes[] = {16, 22, 24, 32, 48, 64};

// ICON as a SIZE x SIZE image, ARGB32 (not premultiplied), transparent around it.
QImage drawBatteryIcon(const BatteryIcon& icon, int size);

} // namespace layout
