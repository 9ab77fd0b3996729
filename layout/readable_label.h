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

    // Lets the mouse select the text for copying, with the text where it stands otherwise.
    void setSelectable();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyColour();
    void placeSelectableText();

    QColor m_colour;
    bool m_selectable = false;
};
