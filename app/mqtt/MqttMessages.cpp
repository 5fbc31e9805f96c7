#include "mqtt/MqttMessages.h"

#include "workspace/TextCoding.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string FileStem(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

// A topic level must not hold the separators and wildcards of topics.
std::string TopicLevel(std::string text) {
    for (char& c : text)
        if (c == '/' || c == '+' || c == '#') c = '_';
    return text.empty() ? "_" : text;
}

std::string ParseUrl(const std::string& url, MqttOptions& options) {
    const std::string bad = "--mqtt needs mqtt://host[:port] or mqtts://host[:port]";
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
        options.tls = false;
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        options.tls = true;
    } else {
        return bad;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    options.port = options.tls ? 8883 : 1883;
    size_t colon = rest.rfind(':');
    if (!rest.empty() && rest[0] == '[') { // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos) return bad;
        colon = rest.find(':', close);
        options.host = rest.substr(1, close - 1);
        if (colon != std::string::npos && colon != close + 1) return bad;
    } else {
        options.host = rest.substr(0, colon);
    }
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || errno != 0 || value < 1 || value > 65535) return bad;
        options.port = static_cast<int>(value);
    }
    if (options.host.empty() || options.host.find_first_of("/?#@ ") != std::string::npos)
        return bad;
    return {};
}

std::string ReadCredentials(MqttOptions& options) {
    std::ifstream in(options.authFile, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line))
        return "cannot read the credentials file " + options.authFile;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
        return "the credentials file " + options.authFile + " must hold \"user:password\"";
    options.user = line.substr(0, colon);
    options.password = line.substr(colon + 1);
    return {};
}

} // namespace

const char* const MqttUsageText =
    "  --mqtt URL           publish every reading to mqtt://host[:port] or mqtts://host[:port]\n"
    "  --mqtt-cafile FILE   the CA certificates that check the broker (mqtts)\n"
    "  --mqtt-cert FILE     a client certificate, with --mqtt-key FILE its key (mqtts)\n"
    "  --mqtt-auth FILE     the user name and password, \"user:password\", from FILE\n"
    "  --mqtt-topic BASE    the topic root (tarnvik/<host name>/<workspace name>)\n"
    "  --mqtt-spool DIR     where messages wait for the broker (LOG.mqtt-spool)\n"
    "  --mqtt-spool-max N   the spool's bound, such as 64M or 1G (256M); beyond it\n"
    "                       the oldest messages are dropped\n";

bool TakeMqttOption(int argc, char** argv, int& i, MqttOptions& options, std::string& error) {
    const std::string arg = argv[i];
    if (arg.rfind("--mqtt", 0) != 0) return false;
    if (i + 1 >= argc) {
        error = "incomplete option " + arg;
        return true;
    }
    const std::string value = argv[++i];
    if (arg == "--mqtt") {
        options.url = value;
        error = ParseUrl(value, options);
    } else if (arg == "--mqtt-cafile") {
        options.caFile = value;
    } else if (arg == "--mqtt-cert") {
        options.certFile = value;
    } else if (arg == "--mqtt-key") {
        options.keyFile = value;
    } else if (arg == "--mqtt-auth") {
        options.authFile = value;
    } else if (arg == "--mqtt-topic") {
        if (value.empty() || value.find_first_of("+#") != std::string::npos || value.back() == '/')
            error = "--mqtt-topic needs a topic without wildcards or a trailing /";
        options.topic = value;
    } else if (arg == "--mqtt-spool") {
        options.spoolDir = value;
    } else if (arg == "--mqtt-spool-max") {
        const auto size = ParseByteSize(value);
        if (!size || *size < 4096)
            error = "--mqtt-spool-max needs a size of at least 4096 bytes, such as 64M";
        else
            options.spoolMax = *size;
    } else {
        --i;
        error = "unknown option " + arg;
    }
    return true;
}

std::string CompleteMqttOptions(MqttOptions& options, const std::string& logPath,
                                const std::string& workspacePath, const std::string& hostName) {
    const bool tlsFiles =
        !options.caFile.empty() || !options.certFile.empty() || !options.keyFile.empty();
    if (!options.enabled())
        return tlsFiles || !options.authFile.empty() ? "these options need --mqtt URL" : "";
    if (tlsFiles && !options.tls) return "--mqtt-cafile, --mqtt-cert and --mqtt-key need mqtts://";
    if (options.certFile.empty() != options.keyFile.empty())
        return "--mqtt-cert and --mqtt-key go together";
    if (!options.authFile.empty())
        if (std::string error = ReadCredentials(options); !error.empty()) return error;
    if (options.topic.empty())
        options.topic =
            "tarnvik/" + TopicLevel(hostName) + "/" + TopicLevel(FileStem(workspacePath));
    if (options.spoolDir.empty())
        options.spoolDir = (logPath == "-" ? std::string("tarnvik-log") : logPath) + ".mqtt-spool";
    return {};
}

std::optional<int64_t> ParseByteSize(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || errno != 0 || !(number >= 0)) return std::nullopt;
    std::string unit(end);
    while (!unit.empty() && unit[0] == ' ')
        unit.erase(0, 1);
    double factor = 1;
    if (!unit.empty()) {
        const std::string prefixes = "KMGT";
        const size_t power = prefixes.find(static_cast<char>(std::toupper(unit[0])));
        if (power != std::string::npos) {
            factor = std::ldexp(1.0, 10 * static_cast<int>(power + 1));
            unit.erase(0, 1);
            if (unit == "i" || unit == "iB" || unit == "B") unit.clear();
        } else if (unit == "B") {
            unit.clear();
        }
    }
    const double bytes = number * factor;
    if (!unit.empty() || bytes > 9e18) return std::nullopt;
    return static_cast<int64_t>(bytes);
}

std::string IsoUtcText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(((ms % 1000) + 1000) % 1000));
    return text;
}

std::optional<std::string> JsonNumber(const std::string& formatted, char decimalSeparator) {
    std::string text = formatted;
    for (char& c : text)
        if (c == decimalSeparator) c = '.';
    std::string sign;
    if (!text.empty() && text[0] == '-') {
        sign = "-";
        text.erase(0, 1);
    }
    const size_t firstNonZero = text.find_first_not_of('0');
    text.erase(0, std::min(firstNonZero, text.size()));
    if (text.empty() || !IsDigit(text[0])) text.insert(0, "0");
    // What is left must be JSON's number grammar: digits, decimals, exponent.
    size_t i = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    if (i < text.size() && text[i] == '.') {
        const size_t start = ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        if (i == start) return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const size_t start = i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        if (i == start) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return sign + text;
}

std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : LegibleText(bytes)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ReadingPayload(const ReadingFields& fields) {
    const auto elapsed = JsonNumber(fields.elapsed, fields.decimalSeparator);
    const auto value = fields.ok ? JsonNumber(fields.text, fields.decimalSeparator) : std::nullopt;
    std::string json =
        "{\"time\":" + JsonString(fields.time) + ",\"elapsed\":" + elapsed.value_or("null") +
        ",\"value\":" + value.value_or("null") + ",\"text\":" + JsonString(fields.text) +
        ",\"ok\":" + (fields.ok ? "true" : "false");
    if (!fields.ok) json += ",\"error\":" + JsonString(fields.error);
    return json + "}";
}

std::string ChannelListPayload(const std::vector<ChannelInfo>& channels) {
    std::string json = "[";
    for (const auto& channel : channels) {
        if (json.size() > 1) json += ",";
        json += "{\"number\":" + std::to_string(channel.number) +
                ",\"caption\":" + JsonString(channel.caption) +
                ",\"station\":" + std::to_string(channel.station) +
                ",\"format\":" + JsonString(channel.format) +
                ",\"protocol\":" + JsonString(channel.protocol) + "}";
    }
    return json + "]";
}
