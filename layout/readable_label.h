// A caption or value field: one line of plain text, in a colour of its own (the blue value
// fields) that stays readable on whatever background the desktop's theme gives it.
#pragma once

#include <QColor>
#include <QLabel>

class ReadableLabel : public QLabel {
    Q_OBJECT
public:
    // An invalid colour keeps the theme's standard text colour.
    explicit ReadableLabel(const QColor& colour, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColour();

    QColor m_colour;
};
