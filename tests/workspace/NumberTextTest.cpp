#include "NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

const RegionalSettings Point = RegionalSettings::point();
const RegionalSettings Comma = RegionalSettings::comma();

TEST(FormatPattern, PadsIntegerPlacesAndFixesDecimals) {
    EXPECT_EQ(FormatPattern(0, "00.000", Point), "00.000");
    EXPECT_EQ(FormatPattern(0, "0.0", Comma), "0,0");
    EXPECT_EQ(FormatPattern(50, "000", Point), "050");
    EXPECT_EQ(FormatPattern(-0.5, "0.00", Point), "-0.50");
    EXPECT_EQ(FormatPattern(1.25f, "0.00", Point), "1.25");
    EXPECT_EQ(FormatPattern(3.14159, "00.000", Comma), "03,142");
}

TEST(FormatPattern, GrowsIntegerPartWhenTheNumberNeedsIt) {
    EXPECT_EQ(FormatPattern(1234.5, "00.0", Point), "1234.5");
    EXPECT_EQ(FormatPattern(-1234.5, "0", Point), "-1235");
    EXPECT_EQ(FormatPattern(1e20, "0", Point), "100000000000000000000");
}

TEST(FormatPattern, RoundsHalvesAwayFromZeroWithCarry) {
    EXPECT_EQ(FormatPattern(0.125, "0.00", Point), "0.13");
    EXPECT_EQ(FormatPattern(2.5, "0", Point), "3");
    EXPECT_EQ(FormatPattern(-2.5, "0", Point), "-3");
    EXPECT_EQ(FormatPattern(0.124999, "0.00", Point), "0.12");
    EXPECT_EQ(FormatPattern(9.9996, "0.000", Point), "10.000");
    EXPECT_EQ(FormatPattern(99.5, "00", Point), "100");
    EXPECT_EQ(FormatPattern(0.96, "0.0", Comma), "1,0");
}

TEST(FormatPattern, PatternsWithoutIntegerOrDecimalPlaces) {
    EXPECT_EQ(FormatPattern(0.5, ".00", Point), ".50");
    EXPECT_EQ(FormatPattern(-0.5, ".0", Point), "-.5");
    EXPECT_EQ(FormatPattern(7.6, "0.", Point), "8");
    EXPECT_EQ(FormatPattern(1.5, "0.0.0", Point), "1.50");
}

TEST(FormatPattern, PatternWithoutDigitPlacesFallsBackToGeneralText) {
    EXPECT_EQ(FormatPattern(12.5, "", Point), "12.5");
    EXPECT_EQ(FormatPattern(12.5, "abc", Comma), "12,5");
    EXPECT_EQ(FormatPattern(0, ".", Point), "0");
}

TEST(FormatPattern, NonFiniteValuesGiveAWordNotGarbage) {
    EXPECT_EQ(FormatPattern(std::numeric_limits<double>::quiet_NaN(), "0.0", Point), "NaN");
    EXPECT_EQ(FormatPattern(std::numeric_limits<double>::infinity(), "0.0", Point), "Inf");
    EXPECT_EQ(FormatPattern(-std::numeric_limits<double>::infinity(), "00", Point), "-Inf");
    EXPECT_EQ(FormatPattern(std::numeric_limits<double>::max(), "0.0", Point).size(), 311u);
}

TEST(GeneralNumber, SevenSignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(GeneralNumber(0, Point), "0");
    EXPECT_EQ(GeneralNumber(-0.0, Point), "0");
    EXPECT_EQ(GeneralNumber(1.0 / 3.0, Point), "0.3333333");
    EXPECT_EQ(GeneralNumber(2.0 / 3.0, Comma), "0,6666667");
    EXPECT_EQ(GeneralNumber(1.5, Point), "1.5");
    EXPECT_EQ(GeneralNumber(-250, Point), "-250");
    EXPECT_EQ(GeneralNumber(1234567, Point), "1234567");
    EXPECT_EQ(GeneralNumber(0.0001, Point), "0.0001");
    EXPECT_EQ(GeneralNumber(0.1f, Point), "0.1");
}

TEST(GeneralNumber, ExponentFormForVeryLargeAndVerySmall) {
    EXPECT_EQ(GeneralNumber(1e-5, Point), "1E-05");
    EXPECT_EQ(GeneralNumber(1e7, Point), "1E+07");
    EXPECT_EQ(GeneralNumber(123456789, Comma), "1,234568E+08");
    EXPECT_EQ(GeneralNumber(9999999.6, Point), "1E+07");
    EXPECT_EQ(GeneralNumber(-2.5e-12, Point), "-2.5E-12");
}

TEST(GeneralNumber, EveryFloatReadsBackExactly) {
    for (float value : {0.3333333f, 1234.567f, -98.76543f, 1e-5f, 3.402823e38f, 0.1f, 12.5f,
                        -12.34567f * 5, std::numeric_limits<float>::max(),
                        std::numeric_limits<float>::denorm_min(), 1.0f / 3.0f}) {
        const std::optional<float> back = ParseSingle(GeneralNumber(value, Comma), Comma);
        ASSERT_TRUE(back) << value;
        EXPECT_EQ(*back, value);
    }
    std::mt19937 random(42);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = random();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = GeneralNumber(value, Point);
        ASSERT_EQ(ParseSingle(text, Point), value) << text;
    }
}

TEST(GeneralNumber, SevenDigitsSufficeForFloatsOfSevenDigitTexts) {
    EXPECT_EQ(GeneralNumber(61.72835f, Point), "61.72835");
    EXPECT_EQ(GeneralNumber(-0.0001234f, Point), "-0.0001234");
    EXPECT_EQ(GeneralNumber(1.0f / 3.0f, Point), "0.33333334");
    EXPECT_EQ(GeneralNumber(12345678.0f, Point), "12345678");
}

TEST(PlainNumber, KeepsLargeWholeNumbersWhole) {
    EXPECT_EQ(PlainNumber(3000, Point), "3000");
    EXPECT_EQ(PlainNumber(604800000, Comma), "604800000");
    EXPECT_EQ(PlainNumber(2.5, Comma), "2,5");
}

TEST(IntegerText, PlainDecimal) {
    EXPECT_EQ(IntegerText(0), "0");
    EXPECT_EQ(IntegerText(-32768), "-32768");
    EXPECT_EQ(IntegerText(115200), "115200");
}

TEST(ParseReal, AcceptsTheRegionalDecimalSeparatorOnly) {
    EXPECT_EQ(ParseReal("1.5", Point), 1.5);
    EXPECT_EQ(ParseReal("1,5", Comma), 1.5);
    EXPECT_EQ(ParseReal("1,5", Point), std::nullopt);
    EXPECT_EQ(ParseReal("1.5", Comma), std::nullopt);
    EXPECT_EQ(ParseReal("1,000", Point), std::nullopt);
    EXPECT_EQ(ParseReal("1.000,5", Comma), std::nullopt);
}

TEST(ParseReal, AcceptsSignsBlanksExponentsAndBareSeparators) {
    EXPECT_EQ(ParseReal("  -42 \t", Point), -42);
    EXPECT_EQ(ParseReal("+5", Point), 5);
    EXPECT_EQ(ParseReal(".5", Point), 0.5);
    EXPECT_EQ(ParseReal("5.", Point), 5);
    EXPECT_EQ(ParseReal("1E+07", Point), 1e7);
    EXPECT_EQ(ParseReal("1e-05", Point), 1e-5);
    EXPECT_EQ(ParseReal("1,234568E+07", Comma), 12345680);
}

TEST(ParseReal, RefusesWhatIsNotANumber) {
    for (const char* text : {"", " ", "abc", "-", ".", "+", "1e", "1e+", "1.2.3", "0x10", "inf",
                             "nan", "1 2", "12abc", "--1", "1e400", "\x01\xff"})
        EXPECT_EQ(ParseReal(text, Point), std::nullopt) << text;
}

TEST(ParseRoundedInteger, RoundsHalvesToEven) {
    const int64_t lo = -32768, hi = 32767;
    EXPECT_EQ(ParseRoundedInteger("2.5", Point, lo, hi), 2);
    EXPECT_EQ(ParseRoundedInteger("3.5", Point, lo, hi), 4);
    EXPECT_EQ(ParseRoundedInteger("-2.5", Point, lo, hi), -2);
    EXPECT_EQ(ParseRoundedInteger("0,5", Comma, lo, hi), 0);
    EXPECT_EQ(ParseRoundedInteger("2.51", Point, lo, hi), 3);
    EXPECT_EQ(ParseRoundedInteger("-7.4", Point, lo, hi), -7);
}

TEST(ParseRoundedInteger, RefusesValuesOutsideTheRange) {
    const int64_t lo = -32768, hi = 32767;
    EXPECT_EQ(ParseRoundedInteger("32767.4", Point, lo, hi), 32767);
    EXPECT_EQ(ParseRoundedInteger("32767.5", Point, lo, hi), std::nullopt);
    EXPECT_EQ(ParseRoundedInteger("-32769", Point, lo, hi), std::nullopt);
    EXPECT_EQ(ParseRoundedInteger("1e30", Point, INT64_MIN, INT64_MAX), std::nullopt);
    EXPECT_EQ(ParseRoundedInteger("-1e19", Point, INT64_MIN, INT64_MAX), std::nullopt);
    EXPECT_EQ(ParseRoundedInteger("abc", Point, lo, hi), std::nullopt);
}

TEST(ParseSingle, RefusesValuesBeyondFloatRange) {
    EXPECT_EQ(ParseSingle("3.4E+38", Point), 3.4e38f);
    EXPECT_EQ(ParseSingle("1E+39", Point), std::nullopt);
    EXPECT_EQ(ParseSingle("-1E+39", Point), std::nullopt);
    EXPECT_EQ(ParseSingle("3.4028235E+38", Point), std::numeric_limits<float>::max());
    EXPECT_EQ(ParseSingle("abc", Point), std::nullopt);
}

} // namespace
