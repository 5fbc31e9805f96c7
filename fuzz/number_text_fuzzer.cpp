// Format patterns and number texts from arbitrary bytes: nothing may crash,
// and whatever a pattern or the general format writes must read back as the
// number it stands for.
//
// Input: "P" or "C" (point or comma locale), then fields split by "|": the
// number as text (or, when it starts with "#", its eight raw bytes), the
// pattern, and a free text for the parsers and as a pattern. The seeds are
// readable that way.
#include "FuzzCheck.h"
#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// A pattern of "0" places with at most one "." reads back within half a
// unit of its last place.
void CheckPattern(double value, const std::string& pattern, const RegionalSettings& rs) {
    const std::string text = FormatPattern(value, pattern, rs);
    const size_t point = pattern.find('.');
    const int decimals = point == std::string::npos ? 0 : int(pattern.size() - point - 1);
    if (pattern.find_first_not_of("0.") != std::string::npos ||
        pattern.find('.', point + (point != std::string::npos)) != std::string::npos ||
        pattern.find('0') == std::string::npos || !std::isfinite(value) ||
        std::fabs(value) >= 1e15 || decimals > 12)
        return;
    const auto back = ParseReal(text, rs);
    FUZZ_CHECK(back && std::fabs(*back - value) <=
                           (std::pow(10.0, -decimals) / 2 + std::fabs(value) * 1e-15) * 1.000001,
               "pattern \"%s\" of %.17g gave \"%s\"", pattern.c_str(), value, text.c_str());
}

// The general text reads back within 5e-7 and is written again the same:
// a file saved twice does not drift.
void CheckGeneral(double value, const RegionalSettings& rs) {
    const std::string text = GeneralNumber(value, rs);
    if (!std::isfinite(value)) return;
    const auto back = ParseReal(text, rs);
    FUZZ_CHECK(!text.empty() && back, "general text \"%s\" of %.17g", text.c_str(), value);
    // Zero comes back as zero; for denormals a relative error is meaningless.
    FUZZ_CHECK(value != 0 || *back == 0, "zero came back as %.17g", *back);
    if (std::fabs(value) < 1e-300) return;
    FUZZ_CHECK(std::fabs(*back - value) <= 5.0000001e-7 * std::fabs(value),
               "general text \"%s\" of %.17g reads back as %.17g", text.c_str(), value, *back);
    FUZZ_CHECK(GeneralNumber(*back, rs) == text,
               "general text \"%s\" of %.17g is written again otherwise", text.c_str(), value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const RegionalSettings rs =
        data[0] == 'C' ? RegionalSettings::comma() : RegionalSettings::point();
    std::string fields[3];
    size_t field = 0;
    for (size_t i = 1; i < size; ++i)
        if (data[i] == '|' && field < 2)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    double value = 0;
    if (fields[0].rfind('#', 0) == 0)
        std::memcpy(&value, fields[0].append(sizeof value, '\0').data() + 1, sizeof value);
    else
        std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), value);
    for (double v : {value, double(static_cast<float>(value))}) {
        CheckPattern(v, fields[1], rs);
        CheckGeneral(v, rs);
    }
    // Text parsed into a range (by way of ParseReal) gives a result inside
    // it, or none.
    const auto integer = ParseRoundedInteger(fields[2], rs, -99, 99);
    FUZZ_CHECK(!integer || (*integer >= -99 && *integer <= 99), "\"%s\" gave %lld outside -99..99",
               fields[2].c_str(), static_cast<long long>(*integer));
    // Arbitrary text as a pattern, too: formats of hand-edited workspaces.
    (void)FormatPattern(value, fields[2].substr(0, 256), rs);
    return 0;
}
