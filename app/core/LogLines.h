// The texts of the logging engine: log file lines, the status line and the
// rate check, built from plain values.
#pragma once

#include "base/NumberText.h"
#include "core/CoreSeams.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LogColumn {
    std::string format; // the channel's format pattern
    float value = 0;    // its net value
};

// "Date,Time,Elapsed mS," and the titles, ";" in place of every "," when
// decimalComma; a title holding the field separator is quoted so the
// columns stay in line. Ends with CR LF.
std::string LogHeaderLine(const std::vector<std::string>& titles, bool decimalComma);

// Date "DD/MM/YYYY", time "HH:MM:SS" (with the locale's separators), the
// elapsed milliseconds and every value; ends with CR LF.
std::string LogDataLine(const LocalDateTime& now, double elapsedMs,
                        const std::vector<LogColumn>& columns, bool decimalComma,
                        const RegionalSettings& regional);

// "Logging requested at 1000ms (4 device reads per sec) to F and achieving 1001ms"
std::string LoggingStatusText(int32_t logInterval, int channels, const std::string& logFileName,
                              float achievedMs, const RegionalSettings& regional);

// "Logging at 1.0Hz to F"
std::string LoggingStartText(int32_t logInterval, const std::string& logFileName,
                             const RegionalSettings& regional);

// The rate check's message, or nothing when the interval leaves at least
// 5 ms per tick.
std::optional<std::string> RateCheckMessage(int channels, int32_t logInterval, bool snap);

// The LogTimer period: L / (N + 1) truncated with Snap, else L / N rounded
// half to even.
int32_t LogTickInterval(int channels, int32_t logInterval, bool snap);
