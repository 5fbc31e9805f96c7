#include "core/LogLines.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const LineEnd = "\r\n";

char FieldSeparator(bool decimalComma) {
    return decimalComma ? ';' : ',';
}

// A title that holds the field separator (or a quotation mark or a line
// break) is quoted; otherwise it would split into extra columns and move
// every later column name off its values.
std::string HeaderField(std::string title, bool decimalComma) {
    const char separator = FieldSeparator(decimalComma);
    if (decimalComma) {
        for (char& c : title)
            if (c == ',') c = ';';
    }
    if (title.find_first_of(std::string(1, separator) + "\"\r\n") == std::string::npos)
        return title;
    std::string quoted = "\"";
    for (char c : title) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

} // namespace

std::string LogHeaderLine(const std::vector<std::string>& titles, bool decimalComma) {
    const std::string separator(1, FieldSeparator(decimalComma));
    std::string line = "Date" + separator + "Time" + separator + "Elapsed mS";
    for (const auto& title : titles)
        line += separator + HeaderField(title, decimalComma);
    return line + LineEnd;
}

std::string LogDataLine(const LocalDateTime& now, double elapsedMs,
                        const std::vector<LogColumn>& columns, bool decimalComma,
                        const RegionalSettings& regional) {
    const std::string separator(1, FieldSeparator(decimalComma));
    char year[16];
    std::snprintf(year, sizeof year, "%04d", now.year);
    std::string line = TwoDigits(now.day) + regional.dateSeparator + TwoDigits(now.month) +
                       regional.dateSeparator + year;
    line += separator + TwoDigits(now.hour) + regional.timeSeparator + TwoDigits(now.minute) +
            regional.timeSeparator + TwoDigits(now.second);
    line += separator + PlainNumber(elapsedMs, regional);
    for (const auto& column : columns)
        line += separator + FormatPattern(column.value, column.format, regional);
    return line + LineEnd;
}

std::string LoggingStatusText(int32_t logInterval, int channels, const std::string& logFileName,
                              float achievedMs, const RegionalSettings& regional) {
    int64_t readsPerSecond = 0;
    if (logInterval > 0)
        readsPerSecond =
            static_cast<int64_t>(std::floor((1.0 / (logInterval / 1000.0)) * channels));
    return "Logging requested at " + FormatPattern(logInterval, "000", regional) + "ms (" +
           IntegerText(readsPerSecond) + " device reads per sec) to " + logFileName +
           " and achieving " + FormatPattern(achievedMs, "000", regional) + "ms";
}

std::string LoggingStartText(int32_t logInterval, const std::string& logFileName,
                             const RegionalSettings& regional) {
    const double hertz = logInterval > 0 ? 1.0 / (logInterval / 1000.0) : 0.0;
    return "Logging at " + FormatPattern(hertz, "0.0", regional) + "Hz to " + logFileName;
}

std::optional<std::string> RateCheckMessage(int channels, int32_t logInterval, bool snap) {
    if (channels < 1) return std::string("There are no channels to log!");
    const int ticks = snap ? channels + 1 : channels;
    if (static_cast<double>(logInterval) / ticks >= 5.0) return std::nullopt;
    return "We cannot log readings from " + IntegerText(channels) + " devices " +
           (snap ? "using SNAP " : "") + "at a rate of " + IntegerText(logInterval) + "ms!" +
           LineEnd + "You should set the Log Interval setting to at least " +
           IntegerText(static_cast<int64_t>(ticks) * 5) + "ms";
}

int32_t LogTickInterval(int channels, int32_t logInterval, bool snap) {
    if (channels < 1) return logInterval;
    if (snap) return logInterval / (channels + 1);
    const int32_t quotient = logInterval / channels;
    const int32_t twiceRemainder = 2 * (logInterval % channels);
    if (twiceRemainder > channels || (twiceRemainder == channels && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}
