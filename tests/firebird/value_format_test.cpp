#include "engine/firebird/value_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tallo::engine::fb {
namespace {

std::string Scaled(std::int64_t v, int scale) {
    std::string s = "x";  // appends, never replaces
    AppendScaled(v, scale, s);
    return s.substr(1);
}

TEST(ScaledNumbers, KeepTheirScaleDigits) {
    EXPECT_EQ(Scaled(1250, -2), "12.50");
    EXPECT_EQ(Scaled(5, -2), "0.05");
    EXPECT_EQ(Scaled(-5, -2), "-0.05");
    EXPECT_EQ(Scaled(-1250, -2), "-12.50");
    EXPECT_EQ(Scaled(0, -3), "0.000");
    EXPECT_EQ(Scaled(100, -2), "1.00");
    EXPECT_EQ(Scaled(42, 0), "42");
    EXPECT_EQ(Scaled(-42, 0), "-42");
}

TEST(ScaledNumbers, ExtremesOfInt64) {
    EXPECT_EQ(Scaled(std::numeric_limits<std::int64_t>::min(), 0), "-9223372036854775808");
    EXPECT_EQ(Scaled(std::numeric_limits<std::int64_t>::min(), -4), "-922337203685477.5808");
    EXPECT_EQ(Scaled(std::numeric_limits<std::int64_t>::max(), -18), "9.223372036854775807");
    EXPECT_EQ(Scaled(1, -18), "0.000000000000000001");
}

TEST(ScaledNumbers, PositiveScaleMultiplies) {
    EXPECT_EQ(Scaled(12, 2), "1200");
    EXPECT_EQ(Scaled(0, 2), "0");
}

TEST(FloatingPoint, ShortestFormThatReadsBack) {
    std::string s;
    AppendDouble(0.1, s);
    EXPECT_EQ(s, "0.1");
    s.clear();
    AppendFloat(0.1f, s);
    EXPECT_EQ(s, "0.1");
    s.clear();
    AppendDouble(1.0 / 3.0, s);
    EXPECT_EQ(std::stod(s), 1.0 / 3.0);
    s.clear();
    AppendDouble(-2.5e-300, s);
    EXPECT_EQ(s, "-2.5e-300");
}

std::string Date(std::int32_t days) {
    std::string s;
    AppendDate(days, s);
    return s;
}

TEST(Dates, CountFromFirebirdsEpoch) {
    EXPECT_EQ(Date(0), "1858-11-17");
    EXPECT_EQ(Date(40587), "1970-01-01");
    EXPECT_EQ(Date(40587 + 11016), "2000-02-29");
    EXPECT_EQ(Date(40587 + 11017), "2000-03-01");
    EXPECT_EQ(Date(-678575), "0001-01-01");
    EXPECT_EQ(Date(2973483), "9999-12-31");
}

TEST(Times, HoursMinutesSecondsAndTenThousandths) {
    std::string s;
    AppendTime(0, s);
    EXPECT_EQ(s, "00:00:00.0000");
    s.clear();
    AppendTime(((13 * 60 + 14) * 60 + 15) * 10000u + 1234, s);
    EXPECT_EQ(s, "13:14:15.1234");
    s.clear();
    AppendTime(86400u * 10000 - 1, s);
    EXPECT_EQ(s, "23:59:59.9999");
}

TEST(Hex, TwoUpperCaseDigitsPerByte) {
    std::string s = "=";
    const unsigned char bytes[] = {0x00, 0x0f, 0xde, 0xad, 0xff};
    AppendHex(bytes, sizeof bytes, s);
    EXPECT_EQ(s, "=000FDEADFF");
}

}  // namespace
}  // namespace tallo::engine::fb
