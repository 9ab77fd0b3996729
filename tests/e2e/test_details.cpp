// What the window has no room for: the device's details on hover, and the whole window as text
// on the clipboard.
#include "e2e_fixture.h"

#include <QAction>
#include <QClipboard>
#include <QMimeData>

namespace {

QString tip(const Form1& form, const char* name) {
    return form.findChild<QWidget*>(QString::fromLatin1(name))->toolTip();
}

TEST_F(EndToEnd, DetailsShowOnHoverAfterARefreshAndGoWithTheDevice) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    const struct {
        const char* field;
        std::vector<const char*> says;
    } panels[] = {
        {"ProcessorLabel",
         {"arm64-v8a, armeabi-v7a, armeabi; aarch64", "System on chip: Google GS201", "8 cores"}},
        {"BatteryLifeLabel",
         {"Health: Good", "Temperature: 28.6 °C", "Voltage: 4.12 V", "Technology: Li-ion"}},
        {"AvailableLabel", {"Swap: 4,294,963,200 bytes, 3,552,047,104 bytes free", "zram0"}},
        {"StorageFreeLabel", {"Read from /data (f2fs)"}},
        {"ScreenWidthLabel", {"Density: 420 dpi"}},
    };
    for (const auto& panel : panels) {
        for (const char* says : panel.says)
            EXPECT_TRUE(tip(*form, panel.field).contains(QString::fromUtf8(says)))
                << panel.field << ": " << tip(*form, panel.field).toStdString();
        EXPECT_FALSE(form->findChild<QWidget*>(panel.field)->accessibleDescription().isEmpty());
    }
    EXPECT_TRUE(adbLink->statusText().endsWith(" Android 14, model lynx."))
        << adbLink->statusText().toStdString();
    // What the window shows is what it showed before.
    expectCurrentPhoneShown();

    ASSERT_EQ(phone->control("vanish"), "ok");
    ASSERT_TRUE(waitUntil([&] { return !connectedLook(); }, 8000));
    for (const auto& panel : panels) {
        EXPECT_EQ(tip(*form, panel.field), QString()) << panel.field;
        EXPECT_EQ(form->findChild<QWidget*>(panel.field)->accessibleDescription(), QString());
    }
}

TEST_F(EndToEnd, CopyAllPutsThePlainReportOnTheClipboardWithDeviceStringsAsTheyAre) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    const QString name = QString::fromUtf8("<b>Lab</b> \x1b[31m&amp; [*]");
    ASSERT_EQ(phone->control("set name " + name), "ok");
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return !text("IPAddrLabel").isEmpty(); }));
    // The battery's health comes after the first fill.
    ASSERT_TRUE(waitUntil([&] { return tip(*form, "BatteryLifeLabel").contains("Maximum"); }));
    QAction* copyAll = form->actions().value(0);
    ASSERT_NE(copyAll, nullptr);
    EXPECT_EQ(copyAll->text(), "Copy all");
    copyAll->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    EXPECT_FALSE(copied->hasHtml());
    const QString expected = QString::fromUtf8("Device Info (<b>Lab</b> \\e[31m&amp; [*])\n") +
                             "Connection: Connected\n"
                             "Network address: 192.168.1.23\n"
                             "Physical: 8,156,930,048 bytes\n"
                             "Available: 3,310,448,640 bytes\n"
                             "Usage (%): 59\n"
                             "Total Space: 117,439,594,496 bytes\n"
                             "Free Space: 73,055,395,840 bytes\n"
                             "Usage (%): 38\n"
                             "Battery Status: High\n"
                             "Battery Life: 8 hours  45 min\n"
                             "Full Time: Unknown\n"
                             "Battery Life (%): 76\n"
                             "AC Line: Disconnected\n"
                             "Height:  2400 pixels\n"
                             "Width:  1080 pixels\n"
                             "Type: Unknown\n"
                             "\n"
                             "Status: " +
                             adbLink->statusText() +
                             "\n"
                             "Device Memory:\n"
                             "  Swap: 4,294,963,200 bytes, 3,552,047,104 bytes free\n"
                             "  Compressed in memory (zram): /dev/block/zram0\n"
                             "Storage:\n"
                             "  Read from /data (f2fs)\n"
                             "Device Power:\n"
                             "  Health: Good\n"
                             "  Temperature: 28.6 °C\n"
                             "  Voltage: 4.12 V\n"
                             "  Technology: Li-ion\n"
                             "  Discharging at 1.5 W (0.38 A at 3.9 V)\n"
                             "  Maximum capacity: 91% of its design (4,012 of 4,385 mAh)\n"
                             "Screen Info:\n"
                             "  Density: 420 dpi\n"
                             "Device Processor:\n"
                             "  arm64-v8a, armeabi-v7a, armeabi; aarch64\n"
                             "  System on chip: Google GS201\n"
                             "  8 cores\n";
    EXPECT_EQ(copied->text(), expected);

    // Ctrl+C copies a value's selection where there is one, and the report where there is none.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* memory = form->findChild<QLabel*>("MemoryLabel");
    memory->setSelection(0, 5);
    ASSERT_TRUE(memory->hasSelectedText());
    QTest::keyClick(form.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "8,156");
    memory->setSelection(0, 0);
    QTest::keyClick(form.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
}

// The battery's health is read once a connection, after the window has filled in: a slow
// batterystats dump never holds the first fill or a refresh.
TEST_F(EndToEnd, BatteryHealthFollowsTheFirstFillOnceAConnection) {
    const struct {
        const char* profile;
        const char* says; // empty: no health line
    } phones[] = {
        {"slow_phone", "Maximum capacity: 91% of its design (4,012 of 4,385 mAh)"},
        {"older_phone", ""},     // an estimate, nothing learned
        {"tablet_on_mains", ""}, // a learned figure past belief
    };
    const QString health = QString::fromUtf8(adb::command::BatteryHealth);
    for (const auto& phone : phones) {
        SimulatorProcess* device = harness.startSimulator(phone.profile);
        ASSERT_NE(device, nullptr) << harness.error().toStdString();
        openWindow();
        ASSERT_TRUE(waitUntil([&] { return connectedLook() && !text("StorageLabel").isEmpty(); }))
            << phone.profile;
        EXPECT_FALSE(tip(*form, "BatteryLifeLabel").contains("Maximum capacity")) << phone.profile;
        const auto ranOnce = [&] {
            return QJsonDocument::fromJson(device->control("count").toUtf8())
                       .object()
                       .value(health)
                       .toInt() == 1;
        };
        ASSERT_TRUE(waitUntil(ranOnce)) << phone.profile;
        if (*phone.says) {
            EXPECT_TRUE(waitUntil(
                [&] { return tip(*form, "BatteryLifeLabel").contains(phone.says); }, 3000))
                << phone.profile << ": " << tip(*form, "BatteryLifeLabel").toStdString();
        } else {
            QTest::qWait(200); // what the read found has reached the window
            EXPECT_FALSE(tip(*form, "BatteryLifeLabel").contains("Maximum capacity"))
                << phone.profile;
        }
        refresh()->click();
        EXPECT_EQ(tip(*form, "BatteryLifeLabel").contains("Maximum capacity"), *phone.says != 0)
            << phone.profile << ": a refresh keeps what was read";
        QTest::qWait(300); // a read the refresh started would have reached the device
        EXPECT_TRUE(ranOnce()) << phone.profile << ": a refresh never reads it again";
        form.reset();
        harness.disconnect(*device);
    }
}

} // namespace
