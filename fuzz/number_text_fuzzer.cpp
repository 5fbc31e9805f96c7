// Format patterns and number texts from arbitrary bytes: nothing may crash,
// and whatever a pattern or the general format writes must read back as the
// number it stands for.
#include "FuzzCheck.h"
#include "NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

// A pattern of "0" places with at most one "." gives its decimals exactly
// and reads back within half a unit of the last place.
void CheckPatternText(double value, const std::string& pattern, const RegionalSettings& rs) {
    const std::string text = FormatPattern(value, pattern, rs);
    const size_t point = pattern.find('.');
    if (pattern.find_first_not_of("0.") != std::string::npos ||
        pattern.find('.', point + (point != std::string::npos)) != std::string::npos ||
        pattern.find('0') == std::string::npos || !std::isfinite(value) || std::fabs(value) >= 1e15)
        return;
    const int decimals = point == std::string::npos ? 0 : int(pattern.size() - point - 1);
    if (decimals > 12) return;
    const size_t separator = text.find(rs.decimalSeparator);
    FUZZ_CHECK(decimals == 0 ? separator == std::string::npos
                             : separator != std::string::npos &&
                                   text.size() - separator - 1 == size_t(decimals),
               "pattern \"%s\" of %.17g gave \"%s\"", pattern.c_str(), value, text.c_str());
    const auto back = ParseReal(text, rs);
    FUZZ_CHECK(back && std::fabs(*back - value) <=
                           (std::pow(10.0, -decimals) / 2 + std::fabs(value) * 1e-15) * 1.000001,
               "pattern \"%s\" of %.17g gave \"%s\", which reads back wrong", pattern.c_str(),
               value, text.c_str());
}

void CheckGeneralText(double value, const RegionalSettings& rs) {
    const std::string text = GeneralNumber(value, rs);
    if (!std::isfinite(value)) return;
    FUZZ_CHECK(!text.empty(), "general text of %.17g is empty", value);

    // At most 7 significant digits; a fraction never ends in a zero.
    const size_t exponent = text.find_first_of("Ee");
    const std::string mantissa = text.substr(0, exponent);
    std::string digitsOnly;
    for (char c : mantissa)
        if (c >= '0' && c <= '9') digitsOnly += c;
    const size_t first = digitsOnly.find_first_not_of('0');
    const size_t last = digitsOnly.find_last_not_of('0');
    const size_t significant = first == std::string::npos ? 0 : last - first + 1;
    FUZZ_CHECK(significant <= 7, "general text \"%s\" of %.17g has %zu digits", text.c_str(), value,
               significant);
    if (mantissa.find(rs.decimalSeparator) != std::string::npos)
        FUZZ_CHECK(mantissa.back() != '0' && mantissa.back() != rs.decimalSeparator,
                   "general text \"%s\" of %.17g ends its fraction badly", text.c_str(), value);

    const auto back = ParseReal(text, rs);
    FUZZ_CHECK(back.has_value(), "general text \"%s\" of %.17g does not read back", text.c_str(),
               value);
    if (value == 0) {
        FUZZ_CHECK(*back == 0, "zero came back as %.17g", *back);
        return;
    }
    if (std::fabs(value) < 1e-300) return; // denormals: relative error is meaningless
    const double relative = std::fabs(*back - value) / std::fabs(value);
    FUZZ_CHECK(relative <= 5.0000001e-7, "general text \"%s\" of %.17g reads back as %.17g",
               text.c_str(), value, *back);
    // Writing what was read gives the same text: a file saved twice does not drift.
    const std::string again = GeneralNumber(*back, rs);
    FUZZ_CHECK(again == text, "general text \"%s\" of %.17g is written again as \"%s\"",
               text.c_str(), value, again.c_str());
}

void CheckIntegerTexts(int64_t value, const std::string& text, const RegionalSettings& rs) {
    const int32_t narrow = static_cast<int32_t>(value);
    const std::string written = IntegerText(narrow);
    const auto back = ParseRoundedInteger(written, rs, INT32_MIN, INT32_MAX);
    FUZZ_CHECK(back && *back == narrow, "integer %d written \"%s\" reads back wrong", narrow,
               written.c_str());

    // Halves go to the even neighbour.
    const int32_t whole = narrow / 4;
    const std::string half = IntegerText(whole) + rs.decimalSeparator + "5";
    const auto rounded = ParseRoundedInteger(half, rs, INT32_MIN, INT32_MAX);
    const int64_t expected = (whole % 2 == 0) ? whole : (whole > 0 ? whole + 1 : whole - 1);
    FUZZ_CHECK(rounded && *rounded == expected, "\"%s\" rounds to %lld, not %lld", half.c_str(),
               rounded ? static_cast<long long>(*rounded) : -1LL, static_cast<long long>(expected));

    // Any text: a result, when there is one, lies inside the asked range.
    const int64_t low = -static_cast<int64_t>(value & 0xFFFF);
    const int64_t high = (value >> 16) & 0xFFFF;
    if (low <= high) {
        const auto any = ParseRoundedInteger(text, rs, low, high);
        FUZZ_CHECK(!any || (*any >= low && *any <= high), "\"%s\" gave %lld outside %lld..%lld",
                   text.c_str(), static_cast<long long>(*any), static_cast<long long>(low),
                   static_cast<long long>(high));
    }
    (void)ParseReal(text, rs);
}

} // namespace

// Input: "P" or "C" (point or comma locale), then fields split by "|": the
// number as text (or, when it starts with "#", its eight raw bytes), the
// pattern, and a free text for the parsers. The seeds are readable that way.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const RegionalSettings rs =
        input[0] == 'C' ? RegionalSettings::comma() : RegionalSettings::point();
    std::string fields[3];
    size_t field = 0;
    for (size_t i = 1; i < input.size(); ++i) {
        if (input[i] == '|' && field < 2)
            ++field;
        else
            fields[field] += input[i];
    }

    double value = 0;
    if (!fields[0].empty() && fields[0][0] == '#') {
        unsigned char raw[sizeof value] = {};
        std::memcpy(raw, fields[0].data() + 1, std::min(fields[0].size() - 1, sizeof raw));
        std::memcpy(&value, raw, sizeof value);
    } else {
        std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), value);
    }
    const std::string& pattern = fields[1];
    const std::string& text = fields[2];
    const float single = static_cast<float>(value);
    int64_t integer = 0;
    std::memcpy(&integer, &value, sizeof integer);

    CheckPatternText(value, pattern, rs);
    CheckPatternText(single, pattern, rs);
    CheckGeneralText(value, rs);
    CheckGeneralText(single, rs);
    CheckIntegerTexts(std::isfinite(value) && std::fabs(value) < 2e9 ? static_cast<int64_t>(value)
                                                                     : integer,
                      text, rs);
    // Arbitrary text as a pattern, too: formats of hand-edited workspaces.
    (void)FormatPattern(value, text.substr(0, 256), rs);
    return 0;
}
