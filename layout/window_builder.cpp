#include "layout/window_builder.h"

#include "layout/accessibility.h"
#include "layout/element_table.h"
#include "layout/progress_bar.h"
#include "layout/readable_label.h"
#include "layout/status_picture.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace layout {
namespace {

QString toQString(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QRect pixelRect(const Element& e, int dpi) {
    return QRect(twipsToPixels(e.left, dpi), twipsToPixels(e.top, dpi), twipsToPixels(e.width, dpi),
                 twipsToPixels(e.height, dpi));
}

QWidget* createElement(const Element& e, QWidget* container) {
    const QString caption = toQString(e.caption);
    switch (e.kind) {
    case Kind::Frame: {
        auto* frame = new QGroupBox(caption, container);
        frame->setFont(standardFont(QFont::Bold));
        return frame;
    }
    case Kind::Caption:
    case Kind::ValueField: {
        auto* label =
            new ReadableLabel(e.colour == TextColour::DarkBlue ? kDarkBlue : QColor(), container);
        label->setText(caption);
        label->setAutoFillBackground(true);
        label->setAlignment((e.align == Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        // A value can be selected with the mouse and copied, as text elsewhere on the desktop.
        if (e.kind == Kind::ValueField)
            label->setSelectable();
        return label;
    }
    case Kind::ProgressBar:
        return new ProgressBar(e.fill, container);
    case Kind::Picture:
        return new StatusPicture(QPixmap(toQString(e.bitmap)), container);
    case Kind::PushButton:
        return new QPushButton(caption, container);
    }
    return nullptr;
}

} // namespace

QStringList fontPreferences() {
    // Carlito and Liberation Sans Narrow are the Debian faces narrow enough for every caption
    // to fit its box, as the classic face did; wider ones such as Liberation Sans cut
    // "Battery Life:" short.
    return {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
            QStringLiteral("Carlito"), QStringLiteral("Liberation Sans Narrow")};
}

QString chooseFontFamily(const QStringList& available) {
    for (const QString& face : fontPreferences()) {
        if (available.contains(face, Qt::CaseInsensitive))
            return face;
    }
    return QStringLiteral("Sans Serif");
}

QFont standardFont(QFont::Weight weight) {
    static const QString family = chooseFontFamily(QFontDatabase::families());
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(weight);
    return font;
}

int twipsToPixels(int twips, int dpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / 1440.0));
}

QHash<QString, QWidget*> buildWindow(QWidget& window) {
    const int dpi = window.logicalDpiX();
    window.setWindowTitle(toQString(kWindowCaption));
    QIcon icon;
    for (const std::string_view file : kIconRenditions)
        icon.addFile(toQString(file));
    window.setWindowIcon(icon);
    window.setFont(standardFont());
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setFixedSize(twipsToPixels(kClientWidthTwips, dpi),
                        twipsToPixels(kClientHeightTwips, dpi));

    QHash<QString, QWidget*> byName;
    std::vector<std::pair<int, QWidget*>> tabOrder;
    for (const Element& e : elements()) {
        const QString name = toQString(e.name);
        QWidget* container = e.container.empty() ? &window : byName.value(toQString(e.container));
        Q_ASSERT(container);
        QWidget* widget = createElement(e, container);
        widget->setObjectName(name);
        if (e.kind != Kind::Frame)
            widget->setFont(standardFont());
        widget->setGeometry(pixelRect(e, dpi));
        widget->setFixedSize(widget->size());
        widget->setProperty("tabIndex", e.tab);
        // Each new sibling goes to the bottom, so earlier rows of the table end up on top.
        widget->lower();
        byName.insert(name, widget);
        tabOrder.emplace_back(e.tab, widget);
    }

    installAccessibility();
    for (const CaptionPair& pair : captionPairs()) {
        auto* caption = qobject_cast<QLabel*>(byName.value(toQString(pair.caption)));
        Q_ASSERT(caption);
        // A caption's buddy is what screen readers report it as labelling.
        caption->setBuddy(byName.value(toQString(pair.labelled)));
    }
    for (const AccessibleText& text : accessibleTexts()) {
        QWidget* widget = byName.value(toQString(text.element));
        Q_ASSERT(widget);
        if (!text.name.empty())
            widget->setAccessibleName(toQString(text.name));
        if (!text.description.empty())
            widget->setAccessibleDescription(toQString(text.description));
    }

    std::sort(tabOrder.begin(), tabOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    QWidget* previous = nullptr;
    for (const auto& [tab, widget] : tabOrder) {
        if (widget->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        else
            widget->setFocus(Qt::OtherFocusReason);
        previous = widget;
    }
    return byName;
}

} // namespace layout
