#include "form_fixture.h"

#include <QSignalSpy>

namespace {

using Lifecycle = FormTest;

const QStringList kRefreshOrder{"ReadRegistryValue",  "GetMemoryStatus",   "GetStorageStatus",
                                "ProcessorType",      "GetPowerStatus",    "ACLineStatus",
                                "GetSystemMetric(0)", "GetSystemMetric(1)"};

void expectNotConnectedLook(const FormTest& t, Form1& form) {
    for (const char* field : kValueFields)
        EXPECT_EQ(t.label(field)->text(), QString()) << field;
    for (const char* name : kBars)
        EXPECT_EQ(t.bar(name), 0.0f) << name;
    EXPECT_FALSE(t.shown("ConnectedPicture"));
    EXPECT_TRUE(t.shown("DisconnectedPicture"));
    EXPECT_EQ(form.windowTitle(), "Device Info");
}

TEST_F(Lifecycle, StartsClearedWithTheDisconnectedPictureAndRefreshEnabled) {
    expectNotConnectedLook(*this, *form);
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_TRUE(link->calls.isEmpty());
}

TEST_F(Lifecycle, RefreshBeforeAnyEventRunsTheWholeSequence) {
    ScriptedLink::scriptPhone(*link);
    refresh()->click();
    EXPECT_EQ(link->calls, kRefreshOrder);
    EXPECT_EQ(link->lastRegistryArgs, "2,IDENT,name");
    EXPECT_TRUE(shown("DisconnectedPicture")); // the look does not change
    EXPECT_EQ(text("MemoryLabel"), "33,554,432 bytes");
}

TEST_F(Lifecycle, ConnectionSwitchesPicturesRefreshesAndEnables) {
    ScriptedLink::scriptPhone(*link);
    link->raise(4);
    ASSERT_FALSE(refresh()->isEnabled());
    label("IPAddrLabel")->setText("stale");
    link->raise(0);
    EXPECT_TRUE(shown("ConnectedPicture"));
    EXPECT_FALSE(shown("DisconnectedPicture"));
    EXPECT_EQ(text("IPAddrLabel"), QString());
    EXPECT_EQ(link->calls, kRefreshOrder);
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_EQ(form->windowTitle(), "Device Info (Lab-07)");
}

TEST_F(Lifecycle, AddressBeforeConnectionIsWipedAndAfterItShown) {
    ScriptedLink::scriptPhone(*link);
    link->raise(5, "10.0.0.9");
    EXPECT_EQ(text("IPAddrLabel"), "10.0.0.9");
    EXPECT_TRUE(shown("DisconnectedPicture"));
    link->raise(0);
    EXPECT_EQ(text("IPAddrLabel"), QString());
    link->raise(5, "192.168.1.20");
    EXPECT_EQ(text("IPAddrLabel"), "192.168.1.20");
    link->raise(5, QString());
    EXPECT_EQ(text("IPAddrLabel"), QString());
}

class GoneCodes : public FormTest, public ::testing::WithParamInterface<int> {};

TEST_P(GoneCodes, ClearEverythingAndDisableRefreshInEitherLook) {
    ScriptedLink::scriptPhone(*link);
    link->raise(0);
    link->raise(5, "10.0.0.9");
    link->raise(GetParam());
    expectNotConnectedLook(*this, *form);
    EXPECT_FALSE(refresh()->isEnabled());
    link->raise(GetParam()); // again while not connected
    expectNotConnectedLook(*this, *form);
    EXPECT_FALSE(refresh()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Codes, GoneCodes, ::testing::Values(2, 4, 7));

class IgnoredCodes : public FormTest, public ::testing::WithParamInterface<int> {};

TEST_P(IgnoredCodes, ChangeNothing) {
    ScriptedLink::scriptPhone(*link);
    link->raise(0);
    link->raise(5, "10.0.0.9");
    link->calls.clear();
    QSignalSpy failures(form.get(), &Form1::failureReported);
    link->raise(GetParam(), "text");
    EXPECT_TRUE(link->calls.isEmpty());
    EXPECT_TRUE(shown("ConnectedPicture"));
    EXPECT_EQ(text("IPAddrLabel"), "10.0.0.9");
    EXPECT_EQ(text("MemoryLabel"), "33,554,432 bytes");
    EXPECT_TRUE(refresh()->isEnabled());
    EXPECT_EQ(failures.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, IgnoredCodes,
                         ::testing::Values(1, 3, 6, 8, 255, -1, -2147483647 - 1, 2147483647));

TEST_F(Lifecycle, SecondConnectionShowsTheNewestAnswers) {
    ScriptedLink::scriptPhone(*link);
    link->raise(0);
    link->set("ProcessorType", 586.0);
    link->raise(0);
    EXPECT_EQ(text("ProcessorLabel"), "INTEL PENTIUM");
    EXPECT_EQ(link->calls.size(), 2 * kRefreshOrder.size());
}

TEST_F(Lifecycle, FailedMemoryQuerySkipsTheRestOfTheRefreshAndIsReportedOnce) {
    ScriptedLink::scriptPhone(*link);
    link->raise(4);
    link->fail("GetMemoryStatus", "the device stopped answering");
    QSignalSpy failures(form.get(), &Form1::failureReported);
    link->raise(0);
    EXPECT_EQ(link->calls, (QStringList{"ReadRegistryValue", "GetMemoryStatus"}));
    // The pictures were switched before the refresh ran; the button stays disabled.
    EXPECT_TRUE(shown("ConnectedPicture"));
    EXPECT_FALSE(shown("DisconnectedPicture"));
    EXPECT_FALSE(refresh()->isEnabled());
    EXPECT_EQ(text("MemoryLabel"), "Unavailable");
    EXPECT_EQ(text("StorageLabel"), QString());
    ASSERT_EQ(failures.count(), 1);
    EXPECT_TRUE(failures.at(0).at(0).toString().contains("the device stopped answering"));
}

TEST_F(Lifecycle, ProceduresThemselvesDoNotCatch) {
    link->fail("GetMemoryStatus");
    EXPECT_THROW(form->GetMemoryInfo(), DeviceLinkError);
    EXPECT_THROW(form->RefreshCommand_Click(), DeviceLinkError);
}

TEST_F(Lifecycle, FailedButtonPressIsReportedAndTheWindowStaysUsable) {
    QSignalSpy failures(form.get(), &Form1::failureReported);
    refresh()->click(); // nothing scripted: the first query fails
    ASSERT_EQ(failures.count(), 1);
    ScriptedLink::scriptPhone(*link);
    refresh()->click();
    EXPECT_EQ(failures.count(), 1);
    EXPECT_EQ(text("ScreenHeightLabel"), " 320 pixels");
}

} // namespace
