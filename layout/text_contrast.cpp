#include "layout/text_contrast.h"

#include <cmath>

namespace layout {
namespace {

double luminance(const QColor& c) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

QColor mix(const QColor& from, const QColor& to, double share) {
    const auto channel = [share](int a, int b) { return int(std::lround(a + (b - a) * share)); };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& preferred, const QColor& background, double minimum) {
    if (contrastRatio(preferred, background) >= minimum)
        return preferred;
    // Towards white on a dark background, towards black on a light one; the other way if that
    // one cannot get there.
    const bool dark = luminance(background) < 0.18;
    const QColor ends[] = {dark ? Qt::white : Qt::black, dark ? Qt::black : Qt::white};
    for (const QColor& end : ends) {
        for (int step = 1; step <= 64; ++step) {
            const QColor candidate = mix(preferred, end, step / 64.0);
            if (contrastRatio(candidate, background) >= minimum)
                return candidate;
        }
    }
    return contrastRatio(Qt::white, background) > contrastRatio(Qt::black, background)
               ? QColor(Qt::white)
               : QColor(Qt::black);
}

} // namespace layout
