#include "form_fixture.h"

#include <cmath>

namespace {

struct DurationCase {
    double seconds;
    const char* text;
};

class Durations : public ::testing::TestWithParam<DurationCase> {};

TEST_P(Durations, HoursAndMinutesWithTheirBlanks) {
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(GetParam().seconds)), GetParam().text)
        << GetParam().seconds;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Durations,
    ::testing::Values(DurationCase{0, ""}, DurationCase{29, ""}, DurationCase{30, " 1 min"},
                      DurationCase{59, " 1 min"}, DurationCase{3599, " 60 min"},
                      DurationCase{3600, "1 hour "}, DurationCase{5400, "1 hour  30 min"},
                      DurationCase{7199, "1 hour  60 min"}, DurationCase{7500, "2 hours  5 min"},
                      DurationCase{2147482800, "596523 hours "},
                      DurationCase{2147486399, "596523 hours  60 min"},
                      // Unknown times as devices report them.
                      DurationCase{2147486400, "Unknown"}, DurationCase{4294967295, "Unknown"},
                      DurationCase{-1, "Unknown"}, DurationCase{-1800, "Unknown"},
                      DurationCase{1e300, "Unknown"}));

TEST(Durations, NotANumberFromALinkIsUnknownNotUndefined) {
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(std::nan(""))), "Unknown");
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(-std::nan(""))), "Unknown");
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(HUGE_VAL)), "Unknown");
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(-HUGE_VAL)), "Unknown");
}

TEST(Durations, NothingIsZeroAndTextFails) {
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue()), QString());
    EXPECT_EQ(Form1::FormatTimeString(DeviceValue(QString("5400"))), "1 hour  30 min");
    EXPECT_THROW(Form1::FormatTimeString(DeviceValue(QString("soon"))), DeviceValueError);
}

struct PowerCase {
    const char* name;
    DeviceValue flag, percent;
    const char* word;
    float bar;
};

class PowerPanel : public FormTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PowerPanel, StatusWordAndBar) {
    const PowerCase& c = GetParam();
    link->set("GetPowerStatus", 1.0, {c.flag, c.percent, 5400.0, 4294967295.0});
    link->set("ACLineStatus", 0.0);
    form->GetPowerInfo();
    EXPECT_EQ(text("BatteryStatusLabel"), c.word);
    EXPECT_EQ(bar("BatteryLifeBar"), c.bar);
    EXPECT_EQ(text("BatteryLifeLabel"), "1 hour  30 min");
    EXPECT_EQ(text("BatteryFullTimeLabel"), "Unknown");
    EXPECT_EQ(text("ACLineStatusLabel"), "Disconnected");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PowerPanel,
    ::testing::Values(PowerCase{"High", 1.0, 100.0, "High", 100},
                      PowerCase{"Low", 2.0, 57.9, "Low", 57},
                      PowerCase{"Critical", 4.0, 3.0, "Critical", 3},
                      PowerCase{"Charging", 8.0, 0.0, "Charging", 0},
                      PowerCase{"NoBattery", 128.0, 255.0, "No System Battery", 0},
                      PowerCase{"Unknown", 255.0, -1.0, "Unknown", 0},
                      PowerCase{"TwoFlags", 9.0, 100.5, "", 0},
                      PowerCase{"Nothing", DeviceValue(), DeviceValue(), "", 0},
                      PowerCase{"NumericText", QString("2"), QString("42.2"), "Low", 42}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, FalsePowerAnswerKeepsBatteryElementsButUpdatesMains) {
    link->set("GetPowerStatus", 1.0, {1.0, 80.0, 60.0, 120.0});
    link->set("ACLineStatus", 0.0);
    form->GetPowerInfo();
    link->set("GetPowerStatus", 0.0, {2.0, 10.0, 0.0, 0.0});
    link->set("ACLineStatus", 1.0);
    form->GetPowerInfo();
    EXPECT_EQ(text("BatteryStatusLabel"), "High");
    EXPECT_EQ(text("BatteryLifeLabel"), " 1 min");
    EXPECT_EQ(text("BatteryFullTimeLabel"), " 2 min");
    EXPECT_EQ(bar("BatteryLifeBar"), 80.0f);
    EXPECT_EQ(text("ACLineStatusLabel"), "Connected");
}

TEST_F(FormTest, MainsCodesOutsideTheTableShowUnknown) {
    link->set("GetPowerStatus", 0.0);
    for (double code : {2.0, 255.0, -1.0}) {
        link->set("ACLineStatus", code);
        form->GetPowerInfo();
        EXPECT_EQ(text("ACLineStatusLabel"), "Unknown") << code;
    }
}

TEST_F(FormTest, UnknownBatteryTimeNoLongerEndsTheRefresh) {
    ScriptedLink::scriptPhone(*link);
    link->set("GetPowerStatus", 1.0, {1.0, 90.0, 4294967295.0, -1.0});
    link->raise(0);
    EXPECT_EQ(text("BatteryLifeLabel"), "Unknown");
    EXPECT_EQ(text("BatteryFullTimeLabel"), "Unknown");
    EXPECT_EQ(text("ScreenHeightLabel"), " 320 pixels");
    EXPECT_TRUE(refresh()->isEnabled());
}

TEST_F(FormTest, UnreadableStatusEndsThePowerPanel) {
    link->set("GetPowerStatus", 1.0, {QString("full"), 50.0, 0.0, 0.0});
    link->set("ACLineStatus", 1.0);
    EXPECT_THROW(form->GetPowerInfo(), DeviceValueError);
    EXPECT_EQ(text("ACLineStatusLabel"), QString());
}

} // namespace
