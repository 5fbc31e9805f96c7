#include "AsciiLine.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace velda_ascii {

std::optional<std::string> FormatWriteValue(float value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double magnitude = std::fabs(static_cast<double>(value));
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed, 7);
    if (res.ec != std::errc{}) return std::nullopt;
    std::string digits(buf, res.ptr);
    const size_t point = digits.find('.');
    if (point < 7) digits.insert(0, 7 - point, '0');
    // A value that rounds to zero carries no sign.
    const bool allZero = digits.find_first_not_of("0.") == std::string::npos;
    if (value < 0 && !allZero) digits.insert(0, 1, '-');
    return digits;
}

std::optional<std::string> BuildRequestLine(RequestKind kind, int station, std::string_view command,
                                            float value) {
    if (station < 0 || station > kMaxStation) return std::nullopt;
    std::string line = "!";
    line += static_cast<char>('0' + station / 100);
    line += static_cast<char>('0' + station / 10 % 10);
    line += static_cast<char>('0' + station % 10);
    line += ':';
    line += command;
    switch (kind) {
    case RequestKind::Read:
        line += '?';
        break;
    case RequestKind::Write: {
        const auto text = FormatWriteValue(value);
        if (!text) return std::nullopt;
        line += '=';
        line += *text;
        break;
    }
    case RequestKind::Execute:
        break;
    }
    line += kCR;
    return line;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t SkipDigits(std::string_view s, size_t i) {
    while (i < s.size() && IsDigit(s[i]))
        ++i;
    return i;
}

} // namespace

std::optional<float> ParseReplyNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;
    size_t end = SkipDigits(text, i);
    bool haveDigits = end > start;
    if (end < text.size() && text[end] == '.') {
        const size_t fracEnd = SkipDigits(text, end + 1);
        if (haveDigits || fracEnd > end + 1) {
            haveDigits = true;
            end = fracEnd;
        }
    }
    if (!haveDigits) return 0.0f;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        size_t e = end + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        const size_t expEnd = SkipDigits(text, e);
        if (expEnd > e) end = expEnd;
    }
    double magnitude = 0.0;
    const auto res = std::from_chars(text.data() + start, text.data() + end, magnitude);
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow is a tiny number, not a failure; overflow has no single.
        const size_t mantissaEnd = text.find_first_of("eE", start);
        if (mantissaEnd < end && text[mantissaEnd + 1] == '-') return negative ? -0.0f : 0.0f;
        return std::nullopt;
    }
    if (res.ec != std::errc{}) return std::nullopt;
    if (magnitude > std::numeric_limits<float>::max()) return std::nullopt;
    const float v = static_cast<float>(magnitude);
    return negative ? -v : v;
}

std::optional<Request> ParseRequestLine(std::string_view line) {
    if (line.size() < 5 || line[0] != '!' || line[4] != ':') return std::nullopt;
    if (!IsDigit(line[1]) || !IsDigit(line[2]) || !IsDigit(line[3])) return std::nullopt;
    Request r;
    r.station = (line[1] - '0') * 100 + (line[2] - '0') * 10 + (line[3] - '0');
    std::string_view body = line.substr(5);
    if (!body.empty() && body.back() == '?') {
        r.kind = RequestKind::Read;
        r.command = body.substr(0, body.size() - 1);
    } else if (const size_t eq = body.rfind('='); eq != std::string_view::npos) {
        r.kind = RequestKind::Write;
        r.command = body.substr(0, eq);
        r.valueText = body.substr(eq + 1);
    } else {
        r.kind = RequestKind::Execute;
        r.command = body;
    }
    return r;
}

} // namespace velda_ascii
