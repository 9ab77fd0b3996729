#include "layout/status_picture.h"

#include <QPainter>

StatusPicture::StatusPicture(const QPixmap& bitmap, QWidget* parent)
    : QFrame(parent), m_bitmap(bitmap) {
    // WinPanel is the classic two-pixel sunken client edge.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAutoFillBackground(true);
}

void StatusPicture::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect inside = contentsRect();
    painter.setClipRect(inside);
    painter.drawPixmap(inside.topLeft(), m_bitmap);
}
