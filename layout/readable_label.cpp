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

void ReadableLabel::setSelectable() {
    m_selectable = true;
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setAlignment((alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop);
    placeSelectableText();
}

void ReadableLabel::changeEvent(QEvent* event) {
    // A theme change brings a new background: the colour is chosen again against it.
    if (event->type() == QEvent::PaletteChange)
        applyColour();
    if (event->type() == QEvent::FontChange)
        placeSelectableText();
    QLabel::changeEvent(event);
}

void ReadableLabel::resizeEvent(QResizeEvent* event) {
    placeSelectableText();
    QLabel::resizeEvent(event);
}

void ReadableLabel::placeSelectableText() {
    // Selectable text is laid out as a document, centred by its line spacing rather than by the
    // font's height: set from the top instead, it stands where plain text centres.
    if (m_selectable)
        setContentsMargins(0, qMax(0, (height() - fontMetrics().height()) / 2), 0, 0);
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
