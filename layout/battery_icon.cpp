#include "layout/battery_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace layout {
namespace {

const QColor kOutline(32, 32, 32);
const QColor kRim(255, 255, 255, 230);
const QColor kEmpty(255, 255, 255, 70);

QColor toneColour(BatteryIcon::Tone tone) {
    switch (tone) {
    case BatteryIcon::Tone::Critical:
        return {224, 27, 36};
    case BatteryIcon::Tone::Low:
        return {240, 160, 0};
    case BatteryIcon::Tone::Good:
        break;
    }
    return {46, 160, 67};
}

// POINTS, each from 0 to 1, in BOX.
QPolygonF placed(std::initializer_list<QPointF> points, const QRectF& box) {
    QPolygonF out;
    for (const QPointF& p : points)
        out << QPointF(box.left() + p.x() * box.width(), box.top() + p.y() * box.height());
    return out;
}

} // namespace

QImage drawBatteryIcon(const BatteryIcon& icon, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    // Whole pixels for every edge: a panel shows the image unscaled, and a half pixel is a blur.
    const int line = std::max(1, size / 16);
    const int rim = std::max(1, size / 32);
    const int bodyWidth = size / 2;
    const int nubWidth = std::max(2, bodyWidth / 2);
    const int nubHeight = std::max(1, size / 16);
    const QRect nub((size - nubWidth) / 2, rim, nubWidth, nubHeight);
    const QRect body((size - bodyWidth) / 2, nub.bottom() + 1, bodyWidth,
                     size - nub.bottom() - 1 - rim);
    for (const QRect& r : {nub, body})
        p.fillRect(r.adjusted(-rim, -rim, rim, rim), kRim);
    for (const QRect& r : {nub, body})
        p.fillRect(r, kOutline);
    const QRect inside = body.adjusted(line, line, -line, -line);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(inside, kEmpty);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // A gap between the outline and the charge where there is room for one.
    const int gap = size >= 32 ? line : 0;
    const QRect well = inside.adjusted(gap, gap, -gap, -gap);
    const double share = std::clamp(icon.percent, 0.0, 100.0) / 100;
    int filled = int(std::lround(well.height() * share));
    if (share > 0)
        filled = std::max(filled, 1);
    p.fillRect(QRect(well.left(), well.bottom() + 1 - filled, well.width(), filled),
               toneColour(icon.tone));

    p.setRenderHint(QPainter::Antialiasing);
    const double pen = std::max(1.0, size / 24.0);
    if (icon.charging) {
        p.setPen(QPen(kOutline, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(255, 255, 255));
        p.drawPolygon(placed(
            {{0.62, 0.02}, {0.08, 0.56}, {0.46, 0.56}, {0.34, 0.98}, {0.92, 0.42}, {0.54, 0.42}},
            QRectF(body).adjusted(-bodyWidth * 0.2, size * 0.1, bodyWidth * 0.2, -size * 0.1)));
    }
    if (icon.warning) {
        const double side = size * 0.62;
        const QRectF box(size - rim - side, size - rim - side * 0.9, side, side * 0.9);
        p.setPen(QPen(kOutline, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(230, 97, 0));
        p.drawPolygon(placed({{0.5, 0}, {1, 1}, {0, 1}}, box));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255));
        const double stroke = std::max(1.5, side / 7);
        const double x = box.center().x() - stroke / 2;
        p.drawRect(QRectF(x, box.top() + box.height() * 0.34, stroke, box.height() * 0.36));
        p.drawRect(QRectF(x, box.top() + box.height() * 0.76, stroke, stroke));
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace layout
