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
