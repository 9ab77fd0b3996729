#include "layout/progress_bar.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

#include <cmath>

ProgressBar::ProgressBar(layout::BarFill fill, QWidget* parent) : QWidget(parent), m_fill(fill) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBar::setValue(float value) {
    if (!(value >= Min && value <= Max))
        throw InvalidPropertyValue("Invalid property value: a bar takes values from 0 to 100.");
    if (value == m_value)
        return;
    m_value = value;
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, double(value));
        QAccessible::updateAccessibility(&changed);
    }
}

void ProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Window));
    qDrawShadePanel(&painter, rect(), pal, true, 1);

    const QRect track = rect().adjusted(2, 2, -2, -2);
    const int filled = static_cast<int>(std::lround(track.width() * (m_value / Max)));
    if (filled <= 0)
        return;
    const QColor chunk = pal.color(QPalette::Highlight);
    if (m_fill == layout::BarFill::Smooth) {
        painter.fillRect(QRect(track.left(), track.top(), filled, track.height()), chunk);
        return;
    }
    // Segmented: blocks two thirds as wide as the bar is high, one pixel apart; the last block
    // is cut at the value so the bar never shows more than it was given.
    const int block = std::max(2, track.height() * 2 / 3);
    for (int x = 0; x < filled; x += block + 1) {
        const int w = std::min(block, filled - x);
        painter.fillRect(QRect(track.left() + x, track.top(), w, track.height()), chunk);
    }
}
