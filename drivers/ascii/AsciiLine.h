// ASCII line protocol: request and reply line rules both ends of the line
// share (driver and instrument simulator).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velda_ascii {

inline constexpr char kCR = '\r';
inline constexpr char kXon = 0x11;
inline constexpr char kXoff = 0x13;
inline constexpr int kMaxStation = 999;
inline constexpr std::string_view kNakText = "?";

enum class RequestKind { Read, Write, Execute };

// The value as "0000000.0000000": at least seven integer digits, exactly
// seven decimals (rounded), "-" in front when negative, always a point,
// whatever the process locale. nullopt for NaN and infinities, which have
// no such text.
std::optional<std::string> FormatWriteValue(float value);

// "!" station as three digits ":" command, then "?" CR (read), "=" value CR
// (write) or CR (execute). nullopt when station is outside 0..999 or the
// value cannot be written.
std::optional<std::string> BuildRequestLine(RequestKind kind, int station, std::string_view command,
                                            float value = 0.0f);

// Reply text to number: leading blanks, tabs and line feeds skipped, the
// longest leading decimal number (sign, fraction, exponent optional) taken;
// no such part gives 0. nullopt when the number lies outside the range of a
// single (a conversion failure).
std::optional<float> ParseReplyNumber(std::string_view text);

// Instrument side: one request line without its CR.
struct Request {
    int station = 0;
    RequestKind kind = RequestKind::Execute;
    std::string command;
    std::string valueText; // a write's value as sent
};
std::optional<Request> ParseRequestLine(std::string_view line);

} // namespace velda_ascii
