#include "base/NumberText.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <vector>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string NonFiniteText(double value) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-Inf" : "Inf";
}

// std::to_chars rather than printf: the C library's decimal point follows
// setlocale(), which the front ends call, and must not leak into file texts.
std::string FixedDigits(double magnitude, int decimals) {
    std::vector<char> buffer(DBL_MAX_10_EXP + 8 + static_cast<std::size_t>(decimals));
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

// Adds one unit in the last place of a string of decimal digits.
void IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The general text with a decimal point, or a word for what is no number.
std::string GeneralDigits(double value, int significantDigits) {
    if (value == 0) return "0";
    if (!std::isfinite(value)) return NonFiniteText(value);
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                                significantDigits);
    return std::string(buffer, result.ptr);
}

std::string Localise(std::string text, const RegionalSettings& rs) {
    for (char& c : text) {
        if (c == '.') c = rs.decimalSeparator;
        if (c == 'e') c = 'E';
    }
    return text;
}

// The number text in the C form that std::from_chars reads, when text is a
// number written with the regional decimal separator.
std::optional<std::string> Normalise(const std::string& text, const RegionalSettings& rs) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;

    // Only the regional decimal separator is a number character: a group
    // separator is refused rather than skipped, because a file written under
    // another locale would otherwise load "1.5" as 15 without a word.
    std::string normal;
    normal.reserve(end - begin);
    std::size_t i = begin;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') normal += '-';
        ++i;
    }
    std::size_t mantissaDigits = 0;
    bool seenPoint = false;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            normal += c;
            ++mantissaDigits;
        } else if (c == rs.decimalSeparator && !seenPoint) {
            normal += '.';
            seenPoint = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) normal += text[i++];
        std::size_t exponentDigits = 0;
        for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++exponentDigits)
            normal += text[i];
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != end) return std::nullopt;
    return normal;
}

// Decimal to binary in one correctly rounded step: going through a double
// first could round twice and miss the float the text was written from.
template <typename Real> std::optional<Real> ConvertNormal(const std::string& normal) {
    Real value = 0;
    auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (result.ec != std::errc() || result.ptr != normal.data() + normal.size())
        return std::nullopt;
    return value;
}

} // namespace

std::string FormatPattern(double value, const std::string& pattern, const RegionalSettings& rs) {
    std::size_t integerPlaces = 0, decimalPlaces = 0;
    bool afterPoint = false;
    for (char c : pattern) {
        if (c == '.')
            afterPoint = true;
        else if (c == '0')
            ++(afterPoint ? decimalPlaces : integerPlaces);
    }
    // A pattern without a single digit place would show nothing at all: a
    // reading must never vanish from a tile or a log row.
    if (integerPlaces + decimalPlaces == 0) return GeneralNumber(value, rs);
    if (!std::isfinite(value)) return NonFiniteText(value);

    const int decimals = static_cast<int>(std::min<std::size_t>(decimalPlaces, INT_MAX / 2));
    // Enough extra digits that the first dropped digit is the true one, so a
    // half rounds away from zero as a reader of the number expects.
    std::string text = FixedDigits(std::fabs(value), decimals + 30);
    const std::size_t point = text.find('.');
    std::string digits = text.substr(0, point) + text.substr(point + 1, decimals);
    if (text[point + 1 + decimals] >= '5') IncrementDigits(digits);

    std::string integerPart = digits.substr(0, digits.size() - decimals);
    const std::size_t firstSignificant = integerPart.find_first_not_of('0');
    integerPart.erase(0, firstSignificant == std::string::npos ? integerPart.size()
                                                               : firstSignificant);
    if (integerPart.size() < integerPlaces)
        integerPart.insert(0, integerPlaces - integerPart.size(), '0');

    std::string out = value < 0 ? "-" : "";
    out += integerPart;
    if (decimals > 0) {
        out += rs.decimalSeparator;
        out.append(digits, digits.size() - decimals, decimals);
    }
    return out;
}

std::string GeneralNumber(double value, const RegionalSettings& rs) {
    return Localise(GeneralDigits(value, 7), rs);
}

std::string PlainNumber(double value, const RegionalSettings& rs) {
    return Localise(GeneralDigits(value, 15), rs);
}

std::string IntegerText(int64_t value) {
    return std::to_string(value);
}

std::optional<double> ParseReal(const std::string& text, const RegionalSettings& rs) {
    const std::optional<std::string> normal = Normalise(text, rs);
    return normal ? ConvertNormal<double>(*normal) : std::nullopt;
}

std::optional<int64_t> ParseRoundedInteger(const std::string& text, const RegionalSettings& rs,
                                           int64_t minimum, int64_t maximum) {
    const std::optional<double> value = ParseReal(text, rs);
    if (!value) return std::nullopt;
    double rounded = std::round(*value);
    if (std::fabs(*value - std::trunc(*value)) == 0.5) rounded = 2 * std::round(*value / 2);
    // 2^63 is exact in a double; anything from there on has no int64.
    constexpr double twoTo63 = 9223372036854775808.0;
    if (rounded < -twoTo63 || rounded >= twoTo63) return std::nullopt;
    const auto integer = static_cast<int64_t>(rounded);
    if (integer < minimum || integer > maximum) return std::nullopt;
    return integer;
}

std::optional<float> ParseSingle(const std::string& text, const RegionalSettings& rs) {
    const std::optional<std::string> normal = Normalise(text, rs);
    return normal ? ConvertNormal<float>(*normal) : std::nullopt;
}
