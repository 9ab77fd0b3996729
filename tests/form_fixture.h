// A window on a scripted link, with typed access to its elements.
#pragma once

#include "display/form1.h"
#include "layout/progress_bar.h"
#include "qt_printers.h"
#include "scripted_link.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

class FormTest : public ::testing::Test {
public:
    FormTest() {
        auto owned = std::make_unique<ScriptedLink>();
        link = owned.get();
        form = std::make_unique<Form1>(std::move(owned));
    }

    QString text(const char* name) const { return label(name)->text(); }
    QLabel* label(const char* name) const {
        auto* w = form->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    float bar(const char* name) const {
        auto* w = form->findChild<ProgressBar*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w ? w->value() : -1.0f;
    }
    bool shown(const char* name) const {
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(name));
        return w && !w->isHidden();
    }
    QPushButton* refresh() const { return form->findChild<QPushButton*>("RefreshCommand"); }

    ScriptedLink* link = nullptr;
    std::unique_ptr<Form1> form;
};

// The twelve value fields the logic writes.
inline const char* const kValueFields[] = {
    "MemoryLabel",       "AvailableLabel",     "StorageLabel",      "StorageFreeLabel",
    "ProcessorLabel",    "BatteryStatusLabel", "BatteryLifeLabel",  "BatteryFullTimeLabel",
    "ACLineStatusLabel", "ScreenWidthLabel",   "ScreenHeightLabel", "IPAddrLabel"};
inline const char* const kBars[] = {"MemoryUsageBar", "StorageUsageBar", "BatteryLifeBar"};

// The window's rows as its description gives them, caption text first: a value field to the
// right of its caption, or a bar below it.
struct CaptionRow {
    const char* frame;
    const char* caption;
    const char* element;
    bool below = false;
};
inline const CaptionRow kCaptionRows[] = {
    {"Frame1", "Physical:", "MemoryLabel"},
    {"Frame1", "Available:", "AvailableLabel"},
    {"Frame1", "Usage (%)", "MemoryUsageBar", true},
    {"Frame6", "Total Space:", "StorageLabel"},
    {"Frame6", "Free Space:", "StorageFreeLabel"},
    {"Frame6", "Usage (%)", "StorageUsageBar", true},
    {"Frame4", "Battery Status:", "BatteryStatusLabel"},
    {"Frame4", "Battery Life:", "BatteryLifeLabel"},
    {"Frame4", "Full Time:", "BatteryFullTimeLabel"},
    {"Frame4", "Battery Life (%)", "BatteryLifeBar", true},
    {"Frame4", "AC Line:", "ACLineStatusLabel"},
    {"Frame5", "Height:", "ScreenHeightLabel"},
    {"Frame5", "Width:", "ScreenWidthLabel"},
    {"Frame3", "Type:", "ProcessorLabel"},
};

// The caption of a row, found by its text inside its frame.
inline QLabel* captionOf(const QWidget& form, const CaptionRow& row) {
    for (QLabel* label : form.findChild<QWidget*>(row.frame)->findChildren<QLabel*>()) {
        if (label->text() == QLatin1String(row.caption))
            return label;
    }
    return nullptr;
}
