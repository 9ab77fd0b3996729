// A value field: one line of plain text that the window's logic sets, in a colour of its own
// that stays readable on whatever background the desktop's theme gives it.
#pragma once

#include <QColor>
#include <QLabel>

class ValueField : public QLabel {
    Q_OBJECT
public:
    // An invalid colour keeps the theme's standard text colour.
    explicit ValueField(const QColor& colour, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColour();

    QColor m_colour;
};
