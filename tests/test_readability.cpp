// What a screen reader and a dark theme make of the window.
#include "desktop/desktop_integration.h"
#include "form_fixture.h"
#include "layout/element_table.h"
#include "layout/readable_label.h"
#include "layout/text_contrast.h"

#include <QAccessible>
#include <QApplication>
#include <QTextDocument>

namespace {

using layout::contrastRatio;
using layout::readableOn;

class Readability : public FormTest {};

TEST_F(Readability, EveryValueFieldAndBarIsLabelledByItsCaption) {
    for (const CaptionRow& row : kCaptionRows) {
        QLabel* caption = captionOf(*form, row);
        ASSERT_NE(caption, nullptr) << row.caption;
        QWidget* element = form->findChild<QWidget*>(row.element);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(element);
        ASSERT_NE(iface, nullptr) << row.element;
        bool labelled = false;
        for (const auto& [other, relation] : iface->relations(QAccessible::Label))
            labelled = labelled || other->object() == caption;
        EXPECT_TRUE(labelled) << row.element << " is not labelled by " << row.caption;
    }
}

TEST_F(Readability, ValuesStayReadableAndBarsReportTheirValue) {
    label("MemoryLabel")->setText("8,156,930,048 bytes");
    QAccessibleInterface* field =
        QAccessible::queryAccessibleInterface(form->findChild<QWidget*>("MemoryLabel"));
    EXPECT_EQ(field->text(QAccessible::Name), "8,156,930,048 bytes");

    auto* bar = form->findChild<ProgressBar*>("BatteryLifeBar");
    bar->setValue(57.9f);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    EXPECT_EQ(iface->role(), QAccessible::ProgressBar);
    ASSERT_NE(iface->valueInterface(), nullptr);
    EXPECT_FLOAT_EQ(iface->valueInterface()->currentValue().toFloat(), 57.9f);
    EXPECT_EQ(iface->valueInterface()->maximumValue().toDouble(), 100.0);
    EXPECT_EQ(iface->text(QAccessible::Value), "58%");
}

TEST_F(Readability, StatusPicturesAreNamedGraphics) {
    for (const auto& [name, spoken] : {std::pair{"ConnectedPicture", "Connected"},
                                       std::pair{"DisconnectedPicture", "Not connected"}}) {
        QAccessibleInterface* iface =
            QAccessible::queryAccessibleInterface(form->findChild<QWidget*>(name));
        EXPECT_EQ(iface->text(QAccessible::Name), spoken) << name;
        EXPECT_EQ(iface->role(), QAccessible::Graphic) << name;
    }
    EXPECT_EQ(label("IPAddrLabel")->accessibleDescription(), "Network address");
}

// A tooltip is rich text: what it draws is what a rich-text document makes of it.
QString drawnAsTooltip(const QWidget& widget) {
    QTextDocument drawn;
    drawn.setHtml(widget.toolTip());
    return drawn.toPlainText();
}

TEST_F(Readability, MarkupInADevicesWordsIsShownLiterallyInEveryTooltipAndDescription) {
    const QString said = QStringLiteral("<b>x</b> &amp; <img src=x>");
    desktop::showLink(*form, *link);
    link->say("Connected to " + said + ".");
    link->tell({{"System on chip: " + said, "8 cores"},
                {"Technology: " + said},
                {"Swap: " + said},
                {"Read from " + said},
                {"Density: " + said},
                {},
                {},
                {}});
    for (const char* name : {"Frame2", "ConnectedPicture", "DisconnectedPicture"}) {
        const auto* widget = form->findChild<QWidget*>(name);
        EXPECT_EQ(drawnAsTooltip(*widget), "Connected to " + said + ".") << name;
        EXPECT_EQ(widget->accessibleDescription(), "Connected to " + said + ".") << name;
    }
    const std::pair<const char*, QString> fields[] = {
        {"ProcessorLabel", "System on chip: " + said + "\n8 cores"},
        {"BatteryLifeLabel", "Technology: " + said},
        {"AvailableLabel", "Swap: " + said},
        {"StorageFreeLabel", "Read from " + said},
        {"ScreenWidthLabel", "Density: " + said}};
    for (const auto& [name, lines] : fields) {
        const auto* widget = form->findChild<QWidget*>(name);
        EXPECT_EQ(drawnAsTooltip(*widget), lines) << name;
        EXPECT_EQ(widget->accessibleDescription(), lines) << name;
    }
}

TEST(Contrast, FollowsTheWcagFormula) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 192), QColor(0x31, 0x36, 0x3b)), 1.02, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 192), QColor(0xef, 0xef, 0xef)), 10.4, 0.1);
}

TEST(Contrast, KeepsAReadableColourAndLightensAnUnreadableOneJustEnough) {
    const QColor blue(0, 0, 192);
    EXPECT_EQ(readableOn(blue, QColor(0xef, 0xef, 0xef)), blue);
    for (const QColor background :
         {QColor(0x31, 0x36, 0x3b), QColor(Qt::black), QColor(0, 0, 64)}) {
        const QColor chosen = readableOn(blue, background);
        EXPECT_GE(contrastRatio(chosen, background), 4.5) << background.name().toStdString();
        EXPECT_LT(contrastRatio(chosen, background), 5.5) << "no lighter than it must be";
        EXPECT_GT(chosen.blue(), chosen.red()) << "still blue";
    }
}

// Breeze Dark, a common dark desktop palette.
QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x31, 0x36, 0x3b));
    dark.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
    dark.setColor(QPalette::Base, QColor(0x1b, 0x1e, 0x20));
    dark.setColor(QPalette::Text, QColor(0xfc, 0xfc, 0xfc));
    dark.setColor(QPalette::Button, QColor(0x31, 0x36, 0x3b));
    dark.setColor(QPalette::ButtonText, QColor(0xfc, 0xfc, 0xfc));
    return dark;
}

void expectEveryLabelReadable(const QWidget& window, const char* when) {
    for (QLabel* l : window.findChildren<QLabel*>()) {
        const QPalette& p = l->palette();
        EXPECT_GE(contrastRatio(p.color(QPalette::WindowText), p.color(l->backgroundRole())), 4.5)
            << l->objectName().toStdString() << " " << when;
    }
}

TEST_F(Readability, EveryLabelReadsUnderADarkThemeAndTheBlueComesBackUnderALightOne) {
    const QPalette light = form->palette();
    // Qt hands a new desktop palette down to each window as this does.
    form->setPalette(darkPalette());
    expectEveryLabelReadable(*form, "after switching to dark");
    form->setPalette(light);
    for (const char* name : kValueFields) {
        if (QByteArray(name).startsWith("Storage"))
            continue;
        EXPECT_EQ(label(name)->palette().color(QPalette::WindowText), QColor(0, 0, 192)) << name;
    }

    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    const Form1 startedDark(std::make_unique<ScriptedLink>());
    expectEveryLabelReadable(startedDark, "when started dark");
    QApplication::setPalette(before);
}

} // namespace

// Selectable text is laid out as a document; a value that can be selected must still stand
// where plain text stands, pixel for pixel.
TEST_F(Readability, SelectableValuesLookExactlyAsPlainTextDid) {
    auto* shown = form->findChild<ReadableLabel*>("MemoryLabel");
    ASSERT_EQ(shown->textInteractionFlags(), Qt::TextSelectableByMouse);
    shown->setText("8,156,930,048 bytes");
    ReadableLabel plain(layout::kDarkBlue, shown->parentWidget());
    plain.setGeometry(shown->geometry());
    plain.setFont(shown->font());
    plain.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    plain.setAutoFillBackground(true);
    plain.setText(shown->text());
    const QImage selectable = shown->grab().toImage();
    EXPECT_EQ(selectable, plain.grab().toImage());
}
