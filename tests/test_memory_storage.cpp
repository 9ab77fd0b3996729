#include "display/text_format.h"
#include "form_fixture.h"

#include <QLocale>

namespace {

struct BytePanelCase {
    const char* name;
    DeviceValue first, second;
    const char* firstText;
    const char* secondText;
    float bar;
};

class BytePanels : public FormTest, public ::testing::WithParamInterface<BytePanelCase> {};

TEST_P(BytePanels, MemoryAndStorageFormatAndSetTheirBars) {
    const BytePanelCase& c = GetParam();
    link->set("GetMemoryStatus", 1.0, {c.first, c.second});
    link->set("GetStorageStatus", -1.0, {c.first, c.second}); // any non-zero flag is true
    form->GetMemoryInfo();
    form->GetStorageInfo();
    EXPECT_EQ(text("MemoryLabel"), c.firstText);
    EXPECT_EQ(text("AvailableLabel"), c.secondText);
    EXPECT_EQ(bar("MemoryUsageBar"), c.bar);
    EXPECT_EQ(text("StorageLabel"), c.firstText);
    EXPECT_EQ(text("StorageFreeLabel"), c.secondText);
    EXPECT_EQ(bar("StorageUsageBar"), c.bar);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BytePanels,
    ::testing::Values(
        BytePanelCase{"Half", 33554432.0, 16777216.0, "33,554,432 bytes", "16,777,216 bytes", 50},
        BytePanelCase{"NoneLeft", 1000.0, 0.0, "1,000 bytes", " bytes", 100},
        BytePanelCase{"Equal", 512.0, 512.0, "512 bytes", "512 bytes", 0},
        BytePanelCase{"SinglePrecision", 3.0, 1.0, "3 bytes", "1 bytes", 66.666664f},
        BytePanelCase{"NumericStrings", QString("2048"), QString("1024"), "2,048 bytes",
                      "1,024 bytes", 50},
        BytePanelCase{"ElevenDigits", 12345678901.0, 0.0, "12,345,678,901 bytes", " bytes", 100},
        BytePanelCase{"EmptyCard", 0.0, 0.0, " bytes", " bytes", 0},
        BytePanelCase{"MoreFreeThanTotal", 100.0, 150.0, "100 bytes", "150 bytes", 0},
        BytePanelCase{"NegativeFree", 100.0, -50.0, "100 bytes", "-50 bytes", 100},
        BytePanelCase{"Fraction", 2.5, 0.4, "3 bytes", " bytes", 84}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, FalseFlagLeavesUnavailableAndTheEarlierBar) {
    link->set("GetMemoryStatus", 1.0, {100.0, 25.0});
    form->GetMemoryInfo();
    ASSERT_EQ(bar("MemoryUsageBar"), 75.0f);
    link->set("GetMemoryStatus", 0.0, {999.0, 1.0}); // values after a false flag are not read
    form->GetMemoryInfo();
    EXPECT_EQ(text("MemoryLabel"), "Unavailable");
    EXPECT_EQ(text("AvailableLabel"), "Unavailable");
    EXPECT_EQ(bar("MemoryUsageBar"), 75.0f);
    link->set("GetStorageStatus", DeviceValue(), {});
    form->GetStorageInfo();
    EXPECT_EQ(text("StorageFreeLabel"), "Unavailable");
}

TEST_F(FormTest, EmptyStorageCardNoLongerEndsTheRefresh) {
    ScriptedLink::scriptPhone(*link);
    link->set("GetStorageStatus", 1.0, {0.0, 0.0});
    link->raise(0);
    EXPECT_EQ(text("StorageLabel"), " bytes");
    EXPECT_EQ(text("ScreenWidthLabel"), " 240 pixels");
    EXPECT_TRUE(refresh()->isEnabled());
}

TEST_F(FormTest, TextWhereBytesWereExpectedFailsAfterTheFirstField) {
    link->set("GetMemoryStatus", 1.0, {100.0, QString("lots")});
    EXPECT_THROW(form->GetMemoryInfo(), DeviceValueError);
    EXPECT_EQ(text("MemoryLabel"), "100 bytes");
    EXPECT_EQ(text("AvailableLabel"), "Unavailable");
}

TEST(GroupedWholeNumber, FollowsTheLocaleSeparator) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(display::groupedWholeNumber(33554432.0), "33.554.432");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(display::groupedWholeNumber(1234.0), "1,234");
    QLocale::setDefault(saved);
    EXPECT_EQ(display::groupedWholeNumber(0.4), QString());
    EXPECT_EQ(display::groupedWholeNumber(1e20), "100,000,000,000,000,000,000");
}

} // namespace
