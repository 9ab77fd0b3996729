#include "form_fixture.h"
#include "layout/element_table.h"
#include "layout/status_picture.h"
#include "layout/window_builder.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QSet>
#include <QTest>

namespace {

using layout::Element;
using layout::Kind;

QString nameOf(const Element& e) {
    return QString::fromLatin1(e.name.data(), e.name.size());
}

class Layout : public FormTest {
protected:
    int px(int twips) const { return layout::twipsToPixels(twips, form->logicalDpiX()); }
    QWidget* widget(const Element& e) const { return form->findChild<QWidget*>(nameOf(e)); }
};

TEST(Twips, FifteenToAPixelAt96Dpi) {
    EXPECT_EQ(layout::twipsToPixels(6165, 96), 411);
    EXPECT_EQ(layout::twipsToPixels(5475, 96), 365);
    EXPECT_EQ(layout::twipsToPixels(1440, 144), 144);
}

// These know the window from its description, not from the table that builds it.

TEST_F(Layout, EachValueLiesOnItsCaptionsRowToItsRightAndEachBarBelowItsCaption) {
    ASSERT_EQ(form->logicalDpiX(), 96);
    const CaptionRow* previous = nullptr;
    for (const CaptionRow& row : kCaptionRows) {
        QLabel* caption = captionOf(*form, row);
        ASSERT_NE(caption, nullptr) << row.caption;
        QWidget* element = form->findChild<QWidget*>(row.element);
        ASSERT_EQ(element->parentWidget()->objectName(), row.frame) << row.element;
        const QRect c = caption->geometry(), e = element->geometry();
        if (row.below) {
            // It overlaps the caption above it by one pixel, as rows do.
            EXPECT_EQ(e.top(), c.bottom()) << row.element;
            EXPECT_EQ(e.left(), c.left()) << row.element;
        } else {
            EXPECT_EQ(e.top(), c.top()) << row.element;
            EXPECT_EQ(e.height(), c.height()) << row.element;
            EXPECT_GT(e.left(), c.left()) << row.element;
            EXPECT_GT(e.right(), c.right()) << row.element;
        }
        if (previous && QByteArray(previous->frame) == row.frame) {
            EXPECT_GT(c.top(), captionOf(*form, *previous)->geometry().top())
                << row.caption << " comes after " << previous->caption;
        }
        previous = &row;
    }
}

TEST_F(Layout, BarsHaveThePlaceAndSizeTheDescriptionGives) {
    ASSERT_EQ(form->logicalDpiX(), 96);
    const std::pair<const char*, QRect> bars[] = {{"MemoryUsageBar", QRect(8, 96, 177, 17)},
                                                  {"StorageUsageBar", QRect(8, 88, 177, 17)},
                                                  {"BatteryLifeBar", QRect(8, 120, 161, 17)}};
    for (const auto& [name, place] : bars)
        EXPECT_EQ(form->findChild<QWidget*>(name)->geometry(), place) << name;
}

// The runs of the bar's colour along the middle of a full bar, as widths: filled, gap, filled...
std::vector<int> runsOfAFullBar(ProgressBar& bar) {
    bar.setValue(100.0f);
    const QImage drawn = bar.grab().toImage();
    const QRgb chunk = bar.palette().color(QPalette::Highlight).rgb();
    std::vector<int> runs;
    bool inChunk = false;
    for (int x = 0; x < drawn.width(); ++x) {
        const bool here = drawn.pixel(x, drawn.height() / 2) == chunk;
        if (runs.empty() || here != inChunk) {
            if (!here && runs.empty())
                continue; // the frame before the first block
            runs.push_back(0);
            inChunk = here;
        }
        ++runs.back();
    }
    if (!runs.empty() && !inChunk)
        runs.pop_back(); // the frame after the last block
    return runs;
}

TEST_F(Layout, MemoryAndBatteryBarsDrawBlocksOnePixelApartAndStorageASmoothStrip) {
    for (const char* name : {"MemoryUsageBar", "BatteryLifeBar"}) {
        const std::vector<int> runs = runsOfAFullBar(*form->findChild<ProgressBar*>(name));
        ASSERT_GE(runs.size(), 5u) << name << " draws separate blocks";
        for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
            if (i % 2 == 1)
                EXPECT_EQ(runs[i], 1) << name << ": gap " << i / 2;
            else
                EXPECT_EQ(runs[i], runs[0]) << name << ": block " << i / 2;
        }
        EXPECT_GT(runs[0], 1) << name;
        EXPECT_LE(runs.back(), runs[0]) << name << ": the last block is cut, never widened";
    }
    EXPECT_EQ(runsOfAFullBar(*form->findChild<ProgressBar*>("StorageUsageBar")).size(), 1u);
}

TEST_F(Layout, NothingOverlapsButRowsByAPixelAndThePicturesTheirOneRectangle) {
    // Where the description lets a value field reach further into the caption to its left.
    const QSet<QString> reachLeft{"StorageLabel", "StorageFreeLabel"};
    QList<QWidget*> containers{form.get()};
    for (QWidget* frame : form->findChildren<QGroupBox*>())
        containers << frame;
    for (QWidget* container : containers) {
        const QList<QWidget*> kids = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (int i = 0; i < kids.size(); ++i) {
            for (int j = i + 1; j < kids.size(); ++j) {
                const QRect both = kids[i]->geometry() & kids[j]->geometry();
                if (both.isEmpty())
                    continue;
                const QSet<QString> pair{kids[i]->objectName(), kids[j]->objectName()};
                const bool pictures =
                    pair == QSet<QString>{"ConnectedPicture", "DisconnectedPicture"};
                const bool byAPixel =
                    container != form.get() && (both.height() == 1 || both.width() == 1 ||
                                                (pair.intersects(reachLeft) && both.width() == 9));
                EXPECT_TRUE(pictures || byAPixel)
                    << kids[i]->objectName().toStdString() << " overlaps "
                    << kids[j]->objectName().toStdString();
            }
        }
    }
}

TEST_F(Layout, ColumnsMarginsAndTheButtonLineUp) {
    const auto at = [this](const char* name) {
        return form->findChild<QWidget*>(name)->geometry();
    };
    EXPECT_EQ(form->size(), QSize(411, 365));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    const char* columns[2][3] = {{"Frame2", "Frame1", "Frame6"}, {"Frame4", "Frame5", "Frame3"}};
    for (const auto& column : columns) {
        EXPECT_EQ(at(column[0]).top(), 8) << column[0];
        for (int i = 1; i < 3; ++i) {
            EXPECT_EQ(at(column[i]).left(), at(column[0]).left()) << column[i];
            EXPECT_EQ(at(column[i]).width(), at(column[0]).width()) << column[i];
            EXPECT_EQ(at(column[i]).top(), at(column[i - 1]).bottom() + 1 + 7) << column[i];
        }
    }
    EXPECT_EQ(at("Frame2").left(), 8);
    EXPECT_EQ(at("Frame4").left(), at("Frame2").right() + 1 + 7);
    EXPECT_EQ(form->width() - 1 - at("Frame4").right(), 10);
    const QRect button = at("RefreshCommand");
    EXPECT_EQ(button.left(), at("Frame3").left());
    EXPECT_EQ(button.width(), at("Frame3").width());
    EXPECT_EQ(button.top(), at("Frame3").bottom() + 1 + 7);
    EXPECT_EQ(button.bottom(), at("Frame6").bottom());
    EXPECT_EQ(form->height() - 1 - button.bottom(), 4);
}

TEST_F(Layout, TableHoldsThirtyEightElementsWithTabPositionsWithoutGaps) {
    QSet<int> tabs;
    for (const Element& e : layout::elements()) {
        tabs.insert(e.tab);
        EXPECT_EQ(widget(e)->property("tabIndex").toInt(), e.tab) << e.name;
    }
    EXPECT_EQ(layout::elements().size(), 38u);
    EXPECT_EQ(tabs.size(), 38);
    EXPECT_EQ(*std::min_element(tabs.begin(), tabs.end()), 0);
    EXPECT_EQ(*std::max_element(tabs.begin(), tabs.end()), 37);
    EXPECT_EQ(layout::findElement("RefreshCommand")->tab, 0);
}

TEST_F(Layout, StackingFollowsTheTableWithEarlierElementsOnTop) {
    const std::pair<const char*, QStringList> frames[] = {
        {"Frame2", {"DisconnectedPicture", "ConnectedPicture", "IPAddrLabel"}},
        {"Frame1",
         {"MemoryUsageBar", "Label8", "AvailableLabel", "MemoryLabel", "Label2", "Label1"}},
        {"Frame6",
         {"StorageUsageBar", "StorageFreeLabel", "StorageLabel", "Label14", "Label13", "Label4"}},
        {"Frame4",
         {"BatteryLifeBar", "ACLineStatusLabel", "Label10", "BatteryFullTimeLabel",
          "BatteryLifeLabel", "BatteryStatusLabel", "Label9", "Label7", "Label6", "Label5"}},
        {"Frame5", {"ScreenWidthLabel", "ScreenHeightLabel", "Label12", "Label11"}},
        {"Frame3", {"ProcessorLabel", "Label3"}},
    };
    for (const auto& [frame, expected] : frames) {
        QStringList topFirst;
        // children() runs from the bottom of the stack to the top.
        for (QObject* child : form->findChild<QWidget*>(frame)->children()) {
            if (child->isWidgetType() && !child->objectName().isEmpty())
                topFirst.prepend(child->objectName());
        }
        EXPECT_EQ(topFirst, expected) << frame;
    }
}

TEST_F(Layout, FontsAreTheStandardFaceAtDialogSizeWithBoldFrameCaptions) {
    const QString family = layout::standardFont().family();
    EXPECT_TRUE(layout::fontPreferences().contains(family)) << family.toStdString();
    for (const Element& e : layout::elements()) {
        const QFont font = widget(e)->font();
        EXPECT_EQ(font.family(), family) << e.name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25) << e.name;
        EXPECT_EQ(font.weight(), e.kind == Kind::Frame ? QFont::Bold : QFont::Normal) << e.name;
        EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut()) << e.name;
    }
}

TEST_F(Layout, EveryFixedCaptionFitsItsBox) {
    for (const Element& e : layout::elements()) {
        if (e.kind != Kind::Caption && e.kind != Kind::Frame && e.kind != Kind::PushButton)
            continue;
        QWidget* w = widget(e);
        const QFontMetrics metrics(w->font());
        const QString caption = QString::fromLatin1(e.caption.data(), e.caption.size());
        EXPECT_LE(metrics.horizontalAdvance(caption), w->width()) << e.name;
        EXPECT_LE(metrics.height(), w->height()) << e.name;
    }
}

TEST_F(Layout, ChooseFontFamilyTakesTheFirstPreferenceAvailable) {
    EXPECT_EQ(layout::chooseFontFamily({"Liberation Sans Narrow", "Carlito"}), "Carlito");
    EXPECT_EQ(layout::chooseFontFamily({"liberation sans narrow"}), "Liberation Sans Narrow");
    EXPECT_EQ(layout::chooseFontFamily({"Comic Neue"}), "Sans Serif");
}

TEST_F(Layout, ValueFieldsAreDarkBlueExceptStorage) {
    const QColor standard = form->palette().color(QPalette::WindowText);
    for (const char* name : kValueFields) {
        const bool storage = QByteArray(name).startsWith("Storage");
        EXPECT_EQ(label(name)->palette().color(QPalette::WindowText),
                  storage ? standard : QColor(0, 0, 192))
            << name;
        EXPECT_TRUE(label(name)->autoFillBackground()) << name;
        EXPECT_EQ(label(name)->textFormat(), Qt::PlainText) << name;
    }
    EXPECT_EQ(label("Label5")->palette().color(QPalette::WindowText), standard);
    EXPECT_EQ(label("IPAddrLabel")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(label("MemoryLabel")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
}

TEST_F(Layout, WindowHasCloseButtonButNoMinimizeOrMaximize) {
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowIcon().isNull());
}

TEST_F(Layout, PicturesShareOneRectangleCentredAboveTheAddress) {
    QWidget* off = form->findChild<QWidget*>("DisconnectedPicture");
    QWidget* on = form->findChild<QWidget*>("ConnectedPicture");
    EXPECT_EQ(off->geometry(), on->geometry());
    EXPECT_EQ(off->geometry().center().x(), label("IPAddrLabel")->geometry().center().x());
    auto* picture = qobject_cast<StatusPicture*>(off);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->contentsRect().size(), QSize(77, 37));
    EXPECT_EQ(picture->bitmap().size(), QSize(78, 39));
}

TEST_F(Layout, FirstDisplayShowsOnlyTheRedDiscAndFocusesRefresh) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_TRUE(form->findChild<QWidget*>("DisconnectedPicture")->isVisible());
    EXPECT_FALSE(form->findChild<QWidget*>("ConnectedPicture")->isVisible());
    EXPECT_EQ(form->focusWidget(), refresh());
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_EQ(form->windowTitle(), "Device Info");

    // Both shown: the red-disc picture lies above and is what is seen.
    form->findChild<QWidget*>("ConnectedPicture")->show();
    const QImage grab = form->grab().toImage();
    QWidget* off = form->findChild<QWidget*>("DisconnectedPicture");
    const QPoint redDisc = off->mapTo(form.get(), off->contentsRect().topLeft() + QPoint(19, 19));
    EXPECT_EQ(QColor(grab.pixel(redDisc)), QColor(255, 0, 0));
}

TEST_F(Layout, LongValuesNeverMoveOrGrowAField) {
    QLabel* field = label("BatteryStatusLabel");
    const QRect before = field->geometry();
    form->show();
    field->setText(QString(100000, QChar('W')));
    field->setText("<b>bold?</b>\nsecond line");
    QCoreApplication::processEvents(); // let any layout request run, were there one
    EXPECT_EQ(field->geometry(), before);
    EXPECT_EQ(form->size(), QSize(411, 365));
}

} // namespace
