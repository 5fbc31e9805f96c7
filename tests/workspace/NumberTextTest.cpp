#include "base/NumberText.h"
#include "workspace/TextCoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const RegionalSettings Point = RegionalSettings::point();
const RegionalSettings Comma = RegionalSettings::comma();
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double Third = 1.0 / 3, TwoThirds = 2.0 / 3;

struct TextCase {
    double value;
    const char* pattern;
    const RegionalSettings& rs;
    const char* expected;
};

// More integer digits when the number needs them; halves away from zero. A
// second point is no point; no digit place at all gives the general text.
TEST(FormatPattern, DigitPlacesRoundingSignAndOddPatterns) {
    const TextCase cases[] = {
        {0, "00.000", Point, "00.000"},    {0, "0.0", Comma, "0,0"},
        {50, "000", Point, "050"},         {-0.5, "0.00", Point, "-0.50"},
        {1.25f, "0.00", Point, "1.25"},    {3.14159, "00.000", Comma, "03,142"},
        {1234.5, "00.0", Point, "1234.5"}, {1e20, "0", Point, "100000000000000000000"},
        {0.125, "0.00", Point, "0.13"},    {-2.5, "0", Point, "-3"},
        {0.124999, "0.00", Point, "0.12"}, {9.9996, "0.000", Point, "10.000"},
        {0.96, "0.0", Comma, "1,0"},       {0.5, ".00", Point, ".50"},
        {-0.5, ".0", Point, "-.5"},        {7.6, "0.", Point, "8"},
        {1.5, "0.0.0", Point, "1.50"},     {12.5, "", Point, "12.5"},
        {12.5, "abc", Comma, "12,5"},      {0, ".", Point, "0"},
        {NAN, "0.0", Point, "NaN"},        {Inf, "0.0", Point, "Inf"},
        {-Inf, "00", Point, "-Inf"}};
    for (const TextCase& c : cases)
        EXPECT_EQ(FormatPattern(c.value, c.pattern, c.rs), c.expected)
            << c.value << " " << c.pattern;
    EXPECT_EQ(FormatPattern(std::numeric_limits<double>::max(), "0.0", Point).size(), 311u);
}

TEST(GeneralNumber, SignificantDigitsAndExponentForm) {
    std::string shown;
    for (double value : {-0.0, Third, -250.0, 1234567.0, 0.0001, double(0.1f), 1e7, -2.5e-12,
                         double(61.72835f), double(12345678.0f)})
        shown += GeneralNumber(value, Point) + " ";
    EXPECT_EQ(shown, "0 0.3333333 -250 1234567 0.0001 0.1 1E+07 -2.5E-12 61.72835 1.234568E+07 ");
    EXPECT_EQ(GeneralNumber(TwoThirds, Comma), "0,6666667");
    EXPECT_EQ(GeneralNumber(123456789, Comma), "1,234568E+08");
    EXPECT_EQ(PlainNumber(604800000, Comma), "604800000");
    EXPECT_EQ(PlainNumber(2.5, Comma), "2,5");
}

struct ParseCase {
    const char* text;
    const RegionalSettings& rs;
    std::optional<double> expected;
};

// A group separator, or the other locale's decimal separator, is no number.
TEST(ParseNumbers, RegionalSeparatorSignsBlanksExponentsAndIntegerRanges) {
    const ParseCase cases[] = {{"1.5", Point, 1.5},      {"1,5", Comma, 1.5},
                               {"  -42 \t", Point, -42}, {"+5", Point, 5},
                               {".5", Point, 0.5},       {"5.", Point, 5},
                               {"1E+07", Point, 1e7},    {"1,234568E+07", Comma, 12345680},
                               {"1,5", Point, {}},       {"1.5", Comma, {}},
                               {"1,000", Point, {}},     {"1.000,5", Comma, {}},
                               {"", Point, {}},          {"-", Point, {}},
                               {".", Point, {}},         {"1e+", Point, {}},
                               {"1.2.3", Point, {}},     {"0x10", Point, {}},
                               {"inf", Point, {}},       {"1 2", Point, {}},
                               {"--1", Point, {}},       {"1e400", Point, {}},
                               {"\x01\xff", Point, {}}};
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParseReal(c.text, c.rs), c.expected) << c.text;
    const int64_t lo = -32768, hi = 32767;
    const ParseCase rounded[] = {{"2.5", Point, 2},         {"3.5", Point, 4},
                                 {"-2.5", Point, -2},       {"0,5", Comma, 0},
                                 {"2.51", Point, 3},        {"-7.4", Point, -7},
                                 {"32767.4", Point, 32767}, {"32767.5", Point, {}},
                                 {"-32769", Point, {}},     {"abc", Point, {}}};
    for (const ParseCase& c : rounded) {
        const std::optional<int64_t> got = ParseRoundedInteger(c.text, c.rs, lo, hi);
        EXPECT_EQ(got ? std::optional<double>(*got) : std::nullopt, c.expected) << c.text;
    }
    EXPECT_EQ(ParseRoundedInteger("1e30", Point, INT64_MIN, INT64_MAX), std::nullopt);
    EXPECT_EQ(ParseRoundedInteger("-1e19", Point, INT64_MIN, INT64_MAX), std::nullopt);
    EXPECT_EQ(ParseSingle("1E+39", Point), std::nullopt);
    EXPECT_EQ(ParseSingle("3.4028235E+38", Point), std::numeric_limits<float>::max());
}

TEST(LegibleText, Utf8AsItIsAnythingElseAsWindows1252) {
    const std::pair<const char*, const char*> cases[] = {
        {"Rig 1", "Rig 1"},
        {"Pr\303\274fstand \342\202\254 \360\237\230\200",
         "Pr\303\274fstand \342\202\254 \360\237\230\200"},
        {"Pr\374fstand", "Pr\303\274fstand"},
        {"\200\201\237\240\377", "\342\202\254\302\201\305\270\302\240\303\277"},
        {"\300\257", "\303\200\302\257"},                                 // overlong
        {"\355\240\200", "\303\255\302\240\342\202\254"},                 // surrogate
        {"\342\202", "\303\242\342\200\232"},                             // cut short
        {"\364\220\200\200", "\303\264\302\220\342\202\254\342\202\254"}, // past U+10FFFF
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(LegibleText(bytes), shown) << bytes;
}

} // namespace
