#include "layout/readable_label.h"

#include "layout/text_contrast.h"

#include <QEvent>

ReadableLabel::ReadableLabel(const QColor& colour, QWidget* parent)
    : QLabel(parent), m_colour(colour) {
    // Device strings are shown literally, never as markup, on one line that never grows.
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    applyColour();
}

void ReadableLabel::changeEvent(QEvent* event) {
    // A theme change brings a new background: the colour is chosen again against it.
    if (event->type() == QEvent::PaletteChange)
        applyColour();
    QLabel::changeEvent(event);
}

void ReadableLabel::applyColour() {
    if (!m_colour.isValid())
        return;
    const QColor text = layout::readableOn(m_colour, palette().color(backgroundRole()));
    if (palette().color(QPalette::WindowText) == text)
        return;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, text);
    setPalette(pal);
}
