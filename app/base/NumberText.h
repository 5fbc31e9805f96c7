// Number texts as the user's regional settings write and read them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The regional settings, as a plain value so logic never asks the system.
struct RegionalSettings {
    char decimalSeparator = '.';
    char groupSeparator = ',';
    std::string dateSeparator = "/";
    std::string timeSeparator = ":";

    static RegionalSettings point() { return {}; }
    static RegionalSettings comma() { return {',', '.', ".", ":"}; }
};

// value formatted with a pattern of "0" digit places and at most one ".":
// at least as many integer digits as "0"s before the point (leading zeros),
// exactly as many decimals as "0"s after it (rounded), "-" when negative.
std::string FormatPattern(double value, const std::string& pattern, const RegionalSettings& rs);

// The general real-number text: at most 7 significant digits, no trailing
// zeros, "0" for zero, exponent form for very large or very small magnitudes.
std::string GeneralNumber(double value, const RegionalSettings& rs);

// The same with up to 15 significant digits, for double quantities such as
// elapsed milliseconds that must stay whole long past 7 digits.
std::string PlainNumber(double value, const RegionalSettings& rs);

// Decimal integer text: "-" when negative, no leading zeros, no grouping.
std::string IntegerText(int64_t value);

// Parses a real number written with the regional decimal separator (blanks
// around it allowed). nullopt when the text is not a number.
std::optional<double> ParseReal(const std::string& text, const RegionalSettings& rs);

// Parses a number and rounds it to an integer, halves to the even
// neighbour; nullopt when not a number or outside [minimum, maximum].
std::optional<int64_t> ParseRoundedInteger(const std::string& text, const RegionalSettings& rs,
                                           int64_t minimum, int64_t maximum);

// Parses a real number for a single-precision field; nullopt when not a
// number or beyond the range of a float.
std::optional<float> ParseSingle(const std::string& text, const RegionalSettings& rs);
