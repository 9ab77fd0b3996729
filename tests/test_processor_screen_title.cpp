#include "display/text_format.h"
#include "form_fixture.h"

#include <QSignalSpy>

namespace {

struct ProcessorCase {
    DeviceValue code;
    const char* name;
};

class Processor : public FormTest, public ::testing::WithParamInterface<ProcessorCase> {};

TEST_P(Processor, NamesExactCodesOnly) {
    link->set("ProcessorType", GetParam().code);
    form->GetProcessorType();
    EXPECT_EQ(text("ProcessorLabel"), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Processor,
    ::testing::Values(ProcessorCase{0.0, "Unavailable"}, ProcessorCase{103.0, "SHx SH3"},
                      ProcessorCase{104.0, "SHx SH4"}, ProcessorCase{386.0, "INTEL 386"},
                      ProcessorCase{486.0, "INTEL 486"}, ProcessorCase{586.0, "INTEL PENTIUM"},
                      ProcessorCase{601.0, "PPC 601"}, ProcessorCase{603.0, "PPC 603"},
                      ProcessorCase{604.0, "PPC 604"}, ProcessorCase{620.0, "PPC 620"},
                      ProcessorCase{821.0, "PPC 821"}, ProcessorCase{860.0, "INTEL 860"},
                      ProcessorCase{1824.0, "ARM 720"}, ProcessorCase{2000.0, "MIPS R2000"},
                      ProcessorCase{2080.0, "ARM 820"}, ProcessorCase{2336.0, "ARM 920"},
                      ProcessorCase{2577.0, "STRONGARM"}, ProcessorCase{3000.0, "MIPS R3000"},
                      ProcessorCase{4000.0, "MIPS R4000"}, ProcessorCase{10003.0, "HITACHI SH3"},
                      ProcessorCase{10005.0, "HITACHI SH4"}, ProcessorCase{21064.0, "ALPHA 21064"},
                      // Neighbours and odd answers.
                      ProcessorCase{2578.0, "Unknown"}, ProcessorCase{2576.0, "Unknown"},
                      ProcessorCase{10004.0, "Unknown"}, ProcessorCase{-586.0, "Unknown"},
                      ProcessorCase{585.5, "INTEL PENTIUM"}, // halves round to even
                      ProcessorCase{386.5, "INTEL 386"},
                      ProcessorCase{DeviceValue(), "Unavailable"},
                      ProcessorCase{QString("386"), "INTEL 386"}));

TEST_F(FormTest, ProcessorAnswerThatIsNoIntegerLeavesTheFieldAlone) {
    link->set("ProcessorType", 586.0);
    form->GetProcessorType();
    for (const DeviceValue& bad : {DeviceValue(QString("arm64")), DeviceValue(3e9)}) {
        link->set("ProcessorType", bad);
        EXPECT_THROW(form->GetProcessorType(), DeviceValueError);
        EXPECT_EQ(text("ProcessorLabel"), "INTEL PENTIUM");
    }
    link->fail("ProcessorType");
    EXPECT_THROW(form->GetProcessorType(), DeviceLinkError);
    EXPECT_EQ(text("ProcessorLabel"), "INTEL PENTIUM");
}

struct ScreenCase {
    DeviceValue width, height;
    const char* widthText;
    const char* heightText;
};

class Screen : public FormTest, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(Screen, ShowsBothOrNeither) {
    label("ScreenWidthLabel")->setText("old");
    label("ScreenHeightLabel")->setText("old");
    link->set("GetSystemMetric(0)", GetParam().width);
    link->set("GetSystemMetric(1)", GetParam().height);
    form->GetScreenInfo();
    EXPECT_EQ(text("ScreenWidthLabel"), GetParam().widthText);
    EXPECT_EQ(text("ScreenHeightLabel"), GetParam().heightText);
    EXPECT_EQ(link->calls, (QStringList{"GetSystemMetric(0)", "GetSystemMetric(1)"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Screen,
    ::testing::Values(ScreenCase{240.0, 320.0, " 240 pixels", " 320 pixels"},
                      ScreenCase{1080.0, 2400.0, " 1080 pixels", " 2400 pixels"},
                      ScreenCase{240.0, 0.0, "", ""}, ScreenCase{-1.0, 320.0, "", ""},
                      ScreenCase{DeviceValue(), 320.0, "", ""}));

struct TitleCase {
    DeviceValue name;
    const char* title;
};

class Title : public FormTest, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(Title, CarriesTheNameExactlyAsGiven) {
    link->set("ReadRegistryValue", GetParam().name);
    form->GetDeviceId();
    EXPECT_EQ(form->windowTitle().replace("[*][*]", "[*]"), QString::fromUtf8(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Title,
    ::testing::Values(TitleCase{QString("Lab-07"), "Device Info (Lab-07)"},
                      TitleCase{QString("  Lab 07 "), "Device Info (  Lab 07 )"},
                      TitleCase{QString(""), "Device Info"},
                      TitleCase{DeviceValue(), "Device Info"},
                      TitleCase{QString("<b>x</b> [*]"), "Device Info (<b>x</b> [*])"},
                      // Control characters as escapes: a pasted title rings no bell.
                      TitleCase{QString::fromUtf8("\x1b[31mLab\x07\t07\x7f"),
                                "Device Info (\\e[31mLab\\x07\\t07\\x7f)"},
                      TitleCase{QString::fromUtf8("Lab\r07\n"), "Device Info (Lab\\r07\\n)"},
                      TitleCase{QString::fromUtf8("Pixel \u202e8"),
                                "Device Info (Pixel \u202e8)"}));

TEST_F(FormTest, TitleKeepsThePreviousCaptionWhenTheNameCannotBeRead) {
    link->set("ReadRegistryValue", QString("Lab-07"));
    form->GetDeviceId();
    link->fail("ReadRegistryValue");
    EXPECT_THROW(form->GetDeviceId(), DeviceLinkError);
    EXPECT_EQ(form->windowTitle(), "Device Info (Lab-07)");
    link->set("ReadRegistryValue", 42.0);
    EXPECT_THROW(form->GetDeviceId(), DeviceValueError);
    EXPECT_EQ(form->windowTitle(), "Device Info (Lab-07)");
}

TEST_F(FormTest, OneConnectionFillsEveryPanelInQueryOrder) {
    ScriptedLink::scriptPhone(*link);
    link->raise(0);
    link->raise(5, "192.168.1.20");
    EXPECT_EQ(link->calls, (QStringList{"ReadRegistryValue", "GetMemoryStatus", "GetStorageStatus",
                                        "ProcessorType", "GetPowerStatus", "ACLineStatus",
                                        "GetSystemMetric(0)", "GetSystemMetric(1)"}));
    EXPECT_EQ(form->windowTitle(), "Device Info (Lab-07)");
    EXPECT_EQ(text("MemoryLabel"), "33,554,432 bytes");
    EXPECT_EQ(text("AvailableLabel"), "16,777,216 bytes");
    EXPECT_EQ(bar("MemoryUsageBar"), 50.0f);
    EXPECT_EQ(text("StorageLabel"), "3 bytes");
    EXPECT_EQ(text("StorageFreeLabel"), "1 bytes");
    EXPECT_EQ(bar("StorageUsageBar"), 66.666664f);
    EXPECT_EQ(text("ProcessorLabel"), "STRONGARM");
    EXPECT_EQ(text("BatteryStatusLabel"), "Charging");
    EXPECT_EQ(text("BatteryLifeLabel"), "1 hour  30 min");
    EXPECT_EQ(text("BatteryFullTimeLabel"), "2 hours  5 min");
    EXPECT_EQ(bar("BatteryLifeBar"), 57.0f);
    EXPECT_EQ(text("ACLineStatusLabel"), "Connected");
    EXPECT_EQ(text("ScreenWidthLabel"), " 240 pixels");
    EXPECT_EQ(text("ScreenHeightLabel"), " 320 pixels");
    EXPECT_EQ(text("IPAddrLabel"), "192.168.1.20");
    EXPECT_TRUE(shown("ConnectedPicture"));
    EXPECT_TRUE(refresh()->isEnabled());
}

TEST(NumberToText, ReservesASignPosition) {
    EXPECT_EQ(display::numberToText(240), " 240");
    EXPECT_EQ(display::numberToText(0), " 0");
    EXPECT_EQ(display::numberToText(-7), "-7");
    EXPECT_EQ(display::numberToText(std::numeric_limits<qint64>::min()), "-9223372036854775808");
}

} // namespace
