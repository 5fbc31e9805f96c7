#include "SimConfig.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <system_error>

namespace vexasim {

namespace {

constexpr int kMaxBusStation = 255;
constexpr int kMaxAsciiStation = 999;
constexpr int kMaxBaud = 4000000;
constexpr int kMaxDelayMs = 60000;

std::vector<std::string_view> Tokens(std::string_view line) {
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// Whole-token numbers only: "12x" or "" is no number.
template <typename T> std::optional<T> Number(std::string_view text) {
    T v{};
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc{} || res.ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::optional<long long> IntIn(std::string_view text, long long lo, long long hi) {
    const auto v = Number<long long>(text);
    if (!v || *v < lo || *v > hi) return std::nullopt;
    return v;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(sep, start);
        out.push_back(text.substr(start, pos - start));
        if (pos == std::string_view::npos) return out;
        start = pos + 1;
    }
}

std::string Quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

std::optional<std::string> ApplyFaults(std::string_view list, Protocol protocol, Faults& f) {
    Faults next = f;
    next.silent = next.nak = next.badChecksum = next.wrongStation = next.cutOff = false;
    for (std::string_view name : Split(list, ',')) {
        if (name == "none") continue;
        if (name == "silent") {
            next.silent = true;
        } else if (name == "nak") {
            next.nak = true;
        } else if (name == "cut") {
            next.cutOff = true;
        } else if (name == "checksum" || name == "station") {
            if (protocol != Protocol::Bus)
                return "fault " + Quoted(name) + " applies to bus stations only";
            (name == "checksum" ? next.badChecksum : next.wrongStation) = true;
        } else {
            return "unknown fault " + Quoted(name) +
                   " (silent, nak, checksum, station, cut or none)";
        }
    }
    f = next;
    return std::nullopt;
}

std::optional<std::string> ApplyWave(std::string_view text, Reading& r) {
    const auto parts = Split(text, ',');
    if (parts.size() < 3 || parts.size() > 4) return "wave needs MEAN,AMPLITUDE,PERIOD[,NOISE]";
    Reading next;
    const auto mean = ParseSingleNumber(parts[0]);
    const auto amp = ParseSingleNumber(parts[1]);
    const auto period = ParseSingleNumber(parts[2]);
    const auto noise = parts.size() == 4 ? ParseSingleNumber(parts[3]) : std::optional(0.0);
    if (!mean || !amp || !period || !noise) return "wave needs numbers: " + std::string(text);
    if (!(*period > 0.0)) return "wave period must be above 0 seconds";
    if (*noise < 0.0) return "wave noise must not be negative";
    if (std::fabs(*mean) + std::fabs(*amp) + *noise > std::numeric_limits<float>::max())
        return "wave leaves the range of a single";
    next.mean = *mean;
    next.amplitude = *amp;
    next.periodSeconds = *period;
    next.noise = *noise;
    r = next;
    return std::nullopt;
}

// One key=value option of a station; `allowBaud` for usb lines.
std::optional<std::string> ApplyOption(std::string_view option, Protocol protocol, StationConfig& s,
                                       int* baud) {
    const size_t eq = option.find('=');
    if (eq == std::string_view::npos) return "option " + Quoted(option) + " needs key=value";
    const std::string_view key = option.substr(0, eq);
    const std::string_view value = option.substr(eq + 1);
    if (key == "value") {
        const auto v = ParseSingleNumber(value);
        if (!v) return "value needs a number: " + Quoted(value);
        s.reading = Reading{*v, 0.0, 0.0, 0.0};
    } else if (key == "wave") {
        return ApplyWave(value, s.reading);
    } else if (key == "fault") {
        return ApplyFaults(value, protocol, s.faults);
    } else if (key == "late") {
        const auto v = IntIn(value, 0, kMaxDelayMs);
        if (!v) return "late needs milliseconds 0.." + std::to_string(kMaxDelayMs);
        s.faults.lateMs = static_cast<int>(*v);
    } else if (key == "noise") {
        const auto v = IntIn(value, 0, 100);
        if (!v) return "noise needs a percentage 0..100";
        s.faults.noisePercent = static_cast<int>(*v);
    } else if (key == "snap") {
        if (value != "on" && value != "off") return "snap needs on or off";
        s.snap = value == "on";
    } else if (key == "stream") {
        if (protocol != Protocol::Ascii) return "stream applies to ASCII stations only";
        const auto v = IntIn(value, 0, kMaxDelayMs);
        if (!v) return "stream needs milliseconds 0.." + std::to_string(kMaxDelayMs);
        s.streamMs = static_cast<int>(*v);
    } else if (key == "baud" && baud) {
        const auto v = IntIn(value, 1, kMaxBaud);
        if (!v) return "baud needs a rate 1.." + std::to_string(kMaxBaud);
        *baud = static_cast<int>(*v);
    } else {
        return "unknown option " + Quoted(key);
    }
    return std::nullopt;
}

std::optional<std::string> ApplyOptions(const std::vector<std::string_view>& tokens, size_t from,
                                        Protocol protocol, StationConfig& s, int* baud) {
    for (size_t i = from; i < tokens.size(); ++i)
        if (auto err = ApplyOption(tokens[i], protocol, s, baud)) return err;
    return std::nullopt;
}

PortConfig* FindPort(SimConfig& config, std::string_view name) {
    for (PortConfig& p : config.ports)
        if (p.Name() == name) return &p;
    return nullptr;
}

std::optional<std::string> ParsePortLine(const std::vector<std::string_view>& t,
                                         SimConfig& config) {
    if (t.size() != 4) return "port needs: port COM<N> bus|ascii BAUD";
    PortConfig p;
    if (t[1].substr(0, 3) != "COM") return "port name must be COM<N>: " + Quoted(t[1]);
    const auto n = IntIn(t[1].substr(3), 1, SHRT_MAX);
    if (!n) return "port number must be 1.." + std::to_string(SHRT_MAX) + ": " + Quoted(t[1]);
    p.number = static_cast<int>(*n);
    if (t[2] == "bus") {
        p.protocol = Protocol::Bus;
    } else if (t[2] == "ascii") {
        p.protocol = Protocol::Ascii;
    } else {
        return "protocol must be bus or ascii: " + Quoted(t[2]);
    }
    const auto baud = IntIn(t[3], 1, kMaxBaud);
    if (!baud) return "baud must be 1.." + std::to_string(kMaxBaud) + ": " + Quoted(t[3]);
    p.baud = static_cast<int>(*baud);
    if (FindPort(config, p.Name())) return p.Name() + " is configured twice";
    config.ports.push_back(std::move(p));
    return std::nullopt;
}

std::optional<std::string> ParseStationLine(const std::vector<std::string_view>& t,
                                            SimConfig& config) {
    if (config.ports.empty() || config.ports.back().usb) return "station must follow a port line";
    PortConfig& port = config.ports.back();
    if (t.size() < 2) return "station needs a number";
    const int max = port.protocol == Protocol::Bus ? kMaxBusStation : kMaxAsciiStation;
    const auto n = IntIn(t[1], 1, max);
    if (!n) return "station number must be 1.." + std::to_string(max) + ": " + Quoted(t[1]);
    StationConfig s;
    s.number = static_cast<int>(*n);
    if (FindStation(config, port.Name(), s.number))
        return "station " + std::to_string(s.number) + " is configured twice on " + port.Name();
    if (auto err = ApplyOptions(t, 2, port.protocol, s, nullptr)) return err;
    port.stations.push_back(s);
    return std::nullopt;
}

std::optional<std::string> ParseUsbLine(const std::vector<std::string_view>& t, SimConfig& config) {
    if (t.size() < 2) return "usb needs a serial number";
    PortConfig p;
    p.usb = true;
    p.protocol = Protocol::Ascii;
    const auto serial = IntIn(t[1], 1, INT32_MAX);
    if (!serial)
        return "serial number must be 1.." + std::to_string(INT32_MAX) + ": " + Quoted(t[1]);
    p.serial = static_cast<int32_t>(*serial);
    if (FindPort(config, p.Name()))
        return "USB instrument " + std::string(t[1]) + " is configured twice";
    StationConfig s; // the instrument answers as station 000
    if (auto err = ApplyOptions(t, 2, p.protocol, s, &p.baud)) return err;
    p.stations.push_back(s);
    config.ports.push_back(std::move(p));
    return std::nullopt;
}

} // namespace

std::optional<double> ParseSingleNumber(std::string_view text) {
    const auto v = Number<double>(text);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return v;
}

std::string PortConfig::Name() const {
    return usb ? "USB" + std::to_string(serial) : "COM" + std::to_string(number);
}

StationConfig* FindStation(SimConfig& config, std::string_view portName, int station) {
    PortConfig* port = FindPort(config, portName);
    if (!port) return nullptr;
    for (StationConfig& s : port->stations)
        if (s.number == station) return &s;
    return nullptr;
}

std::optional<ParseError> ParseConfig(std::string_view text, SimConfig& config, int firstLine) {
    int lineNo = firstLine;
    for (std::string_view line : Split(text, '\n')) {
        const auto t = Tokens(line);
        std::optional<std::string> err;
        if (t.empty()) {
        } else if (t[0] == "port") {
            err = ParsePortLine(t, config);
        } else if (t[0] == "station") {
            err = ParseStationLine(t, config);
        } else if (t[0] == "usb") {
            err = ParseUsbLine(t, config);
        } else {
            err = "unknown line " + Quoted(t[0]) + " (port, station or usb)";
        }
        if (err) return ParseError{lineNo, *err};
        ++lineNo;
    }
    return std::nullopt;
}

std::optional<std::string> ApplyControlLine(std::string_view line, SimConfig& config) {
    const auto t = Tokens(line);
    if (t.size() < 3 || t[0] != "set") return "expected: set <port> [<station>] <options...>";
    PortConfig* port = FindPort(config, t[1]);
    if (!port) return "no port " + Quoted(t[1]);
    size_t from = 2;
    StationConfig* station = nullptr;
    if (port->usb) {
        station = &port->stations.front();
    } else {
        const auto n = Number<int>(t[2]);
        if (n) station = FindStation(config, t[1], *n);
        if (!station) return "no station " + Quoted(t[2]) + " on " + port->Name();
        from = 3;
    }
    if (from >= t.size()) return "nothing to set for " + port->Name();
    // All or nothing: a bad option leaves the station as it was.
    StationConfig next = *station;
    if (auto err = ApplyOptions(t, from, port->protocol, next, nullptr)) return err;
    *station = next;
    return std::nullopt;
}

} // namespace vexasim
