// A picture box: a fixed bitmap drawn unscaled from the top-left corner of a sunken box's
// interior, cut off where the interior ends.
#pragma once

#include <QFrame>
#include <QPixmap>

class StatusPicture : public QFrame {
    Q_OBJECT
public:
    explicit StatusPicture(const QPixmap& bitmap, QWidget* parent = nullptr);

    const QPixmap& bitmap() const { return m_bitmap; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_bitmap;
};
