#include "device_link/device_value.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Int32Case {
    DeviceValue value;
    std::optional<qint32> expected; // nullopt: the conversion fails
};

class ToInt32 : public ::testing::TestWithParam<Int32Case> {};

TEST_P(ToInt32, RoundsHalvesToEvenAndRefusesWhatDoesNotFit) {
    const Int32Case& c = GetParam();
    if (c.expected)
        EXPECT_EQ(c.value.toInt32(), *c.expected);
    else
        EXPECT_THROW(c.value.toInt32(), DeviceValueError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToInt32,
    ::testing::Values(Int32Case{DeviceValue(2.5), 2}, Int32Case{DeviceValue(3.5), 4},
                      Int32Case{DeviceValue(-2.5), -2}, Int32Case{DeviceValue(2.6), 3},
                      Int32Case{DeviceValue(), 0}, Int32Case{DeviceValue(QString(" 42 ")), 42},
                      Int32Case{DeviceValue(QString("1e3")), 1000},
                      Int32Case{DeviceValue(2147483647.0), 2147483647},
                      Int32Case{DeviceValue(-2147483648.0), -2147483647 - 1},
                      Int32Case{DeviceValue(2147483647.5), std::nullopt},
                      Int32Case{DeviceValue(4294967295.0), std::nullopt},
                      Int32Case{DeviceValue(QString("abc")), std::nullopt},
                      Int32Case{DeviceValue(QString("")), std::nullopt},
                      Int32Case{DeviceValue(QString("nan")), std::nullopt},
                      Int32Case{DeviceValue(QString("0x10")), std::nullopt}));

TEST(DeviceValue, KindsAndTruth) {
    EXPECT_TRUE(DeviceValue().isNothing());
    EXPECT_TRUE(DeviceValue(1.0).isNumber());
    EXPECT_TRUE(DeviceValue(QString("x")).isString());
    EXPECT_FALSE(DeviceValue().toBool());
    EXPECT_FALSE(DeviceValue(0.0).toBool());
    EXPECT_TRUE(DeviceValue(-1.0).toBool());
    EXPECT_TRUE(DeviceValue(QString("1")).toBool());
    EXPECT_THROW(DeviceValue(QString("yes")).toBool(), DeviceValueError);
}

TEST(DeviceValue, TextOnlyFromStrings) {
    EXPECT_EQ(DeviceValue().toString(), QString());
    EXPECT_EQ(DeviceValue(QString(" a ")).toString(), QString(" a "));
    EXPECT_THROW(DeviceValue(5.0).toString(), DeviceValueError);
}

TEST(DeviceValue, ComparesWithTheEmptyString) {
    EXPECT_TRUE(DeviceValue() == QString());
    EXPECT_TRUE(DeviceValue(QString()) == QString());
    EXPECT_FALSE(DeviceValue(QString(" ")) == QString());
    EXPECT_FALSE(DeviceValue(0.0) == QString());
    EXPECT_TRUE(DeviceValue(7.0) == QString("7"));
}

} // namespace
