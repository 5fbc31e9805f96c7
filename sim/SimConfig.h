// What the simulator serves: ports, the stations on them, their readings
// and injected faults, read from a small line-oriented text format.
//
//   # comment
//   port COM1 bus 115200          a serial port: COM<N>, bus or ascii, baud
//   station 1 wave=20,5,60,0.05   a station on the port above it
//   station 2 value=1.0 fault=nak late=40
//   usb 100234 value=3.25         a USB instrument (ASCII, station 000)
//
// Station options (also accepted by a usb line, which may add baud=N):
//   value=X                 constant reading
//   wave=MEAN,AMP,PERIOD_S[,NOISE]  MEAN + AMP*sin(2*pi*t/PERIOD) + uniform noise
//   fault=F[,F...]          silent, nak, checksum, station, cut, or none
//   late=MS                 reply MS milliseconds after the request
//   noise=PERCENT           corrupt one byte of that share of the replies
//   snap=on|off             answers SNAP and the latched-reading reads
//   stream=MS               ASCII: send the reading unrequested every MS
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexasim {

enum class Protocol { Bus, Ascii };

struct Reading {
    double mean = 0.0; // the constant value, or the waveform's centre
    double amplitude = 0.0;
    double periodSeconds = 0.0; // 0: constant
    double noise = 0.0;         // peak of the uniform noise added
};

struct Faults {
    bool silent = false;       // hears nothing, answers nothing
    bool nak = false;          // refuses every request
    bool badChecksum = false;  // bus data replies carry a wrong checksum
    bool wrongStation = false; // bus replies carry the next station's number
    bool cutOff = false;       // the last byte of every reply is never sent
    int lateMs = 0;            // extra delay before a reply
    int noisePercent = 0;      // share of replies with one corrupted byte
};

struct StationConfig {
    int number = 0;
    Reading reading;
    Faults faults;
    bool snap = true;
    int streamMs = 0;
};

struct PortConfig {
    Protocol protocol = Protocol::Bus;
    bool usb = false;
    int number = 0;     // COM<N>
    int32_t serial = 0; // USB serial number
    int baud = 115200;  // pacing of the replies
    std::vector<StationConfig> stations;

    // "COM3" or "USB100234": the name used in output, trace and control.
    std::string Name() const;
};

struct SimConfig {
    std::vector<PortConfig> ports;
};

struct ParseError {
    int line = 0; // 1-based; 0 for an error not tied to a line
    std::string message;
};

// Adds the lines of `text` to `config`. Stations follow the port line they
// belong to; numbers, names and options are checked. nullopt on success.
std::optional<ParseError> ParseConfig(std::string_view text, SimConfig& config, int firstLine = 1);

// A run-time change, "set <port> <station> <options...>" (a USB port takes
// no station: "set USB100234 fault=none"). Only the options named change.
std::optional<std::string> ApplyControlLine(std::string_view line, SimConfig& config);

// The whole of `text` as a decimal number a single can hold ("12x", "",
// "inf" and "1e39" are none): readings and written values are singles.
std::optional<double> ParseSingleNumber(std::string_view text);

// Finds a station by port name and number; nullptr when there is none.
StationConfig* FindStation(SimConfig& config, std::string_view portName, int station);

} // namespace vexasim
