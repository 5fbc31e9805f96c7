#include "SimConfig.h"

#include <gtest/gtest.h>

using namespace vexasim;

namespace {

SimConfig Parse(std::string_view text) {
    SimConfig c;
    const auto err = ParseConfig(text, c);
    EXPECT_FALSE(err) << err->line << ": " << err->message;
    return c;
}

// What the instruments make of their options shows in InstrumentTest; here
// the file's own rules: comments, indentation, blank lines, several faults,
// the number ranges and a usb line's rate.
TEST(SimConfig, ReadsPortsStationsAndUsbInstruments) {
    const SimConfig c = Parse("# demo\n"
                              "port COM1 bus 115200\n"
                              "  station 1 wave=20,5,60,0.05   # drifting\n"
                              "  station 255 value=-1.5 fault=nak,cut late=40 noise=10 snap=off\n"
                              "\n"
                              "port COM12 ascii 9600\n"
                              "station 999 value=2 stream=250\n"
                              "usb 100234 value=3.25 baud=9600 fault=silent\n");
    ASSERT_EQ(c.ports.size(), 3u);
    const Reading& wave = c.ports[0].stations[0].reading;
    EXPECT_EQ(std::vector({wave.mean, wave.amplitude, wave.periodSeconds, wave.noise}),
              std::vector({20.0, 5.0, 60.0, 0.05}));
    const StationConfig& s255 = c.ports[0].stations.at(1);
    EXPECT_TRUE(s255.number == 255 && s255.reading.mean == -1.5 && s255.faults.nak &&
                s255.faults.cutOff && !s255.faults.silent && s255.faults.lateMs == 40 &&
                s255.faults.noisePercent == 10 && !s255.snap);
    EXPECT_EQ(c.ports[1].Name() + " " + std::to_string(c.ports[1].stations.at(0).number),
              "COM12 999");
    EXPECT_EQ(c.ports[1].stations[0].streamMs, 250);
    const PortConfig& usb = c.ports[2];
    EXPECT_TRUE(usb.usb && usb.Name() == "USB100234" && usb.protocol == Protocol::Ascii &&
                usb.baud == 9600 && usb.stations.at(0).number == 0 &&
                usb.stations[0].faults.silent);
}

bool Refused(const std::string& text, int line = 0) {
    SimConfig c;
    const auto err = ParseConfig(text, c);
    return err && (line == 0 || err->line == line);
}

TEST(SimConfig, RejectsBadLinesAndOptions) {
    const std::pair<const char*, int> numbered[] = {
        {"station 1 value=1\n", 1},
        {"port COM1 bus 9600\nstation 256\n", 2},
        {"port COM1 bus 9600\nstation 0\n", 2},
        {"port COM1 ascii 9600\nstation 1000\n", 2},
        {"port COM1 bus 9600\n\nport COM1 ascii 9600\n", 3},
        {"port COM1 bus 9600\nstation 3\nstation 3\n", 3},
    };
    for (const auto& [text, line] : numbered)
        EXPECT_TRUE(Refused(text, line)) << text;
    const char* lines[] = {"port COM0 bus 9600", "port COM1x bus 9600", "port COM1 modbus 9600",
                           "port COM1 bus 0", "port COM1 bus", "serial COM1", "usb 0 value=1",
                           "usb 5 baud=0", "usb 5 fault=station", "usb 100\nusb 100",
                           "usb 100 value=1\nstation 1", // stations belong to serial ports
                           // Bus-only faults and ASCII-only streaming.
                           "port COM1 ascii 9600\nstation 1 fault=checksum",
                           "port COM1 ascii 9600\nstation 1 fault=station",
                           "port COM1 bus 9600\nstation 1 stream=100"};
    for (const char* text : lines)
        EXPECT_TRUE(Refused(std::string(text) + "\n")) << text;
    const char* options[] = {
        "value=abc",  "value=nan",  "value=1e39",    "wave=3e38,3e38,1", "value=inf",    "value=1x",
        "wave=1,2",   "wave=1,2,0", "wave=1,2,3,-1", "wave=a,2,3",       "fault=broken", "late=-1",
        "late=60001", "noise=101",  "snap=yes",      "colour=red",       "value",
        "baud=9600", // only a usb line takes a baud rate
    };
    for (const char* option : options)
        EXPECT_TRUE(Refused(std::string("port COM1 bus 9600\nstation 1 ") + option + "\n"))
            << option;
}

TEST(SimConfig, ControlLinesChangeOnlyWhatTheyName) {
    SimConfig c = Parse("port COM1 bus 9600\nstation 2 value=1 late=30 fault=cut\n"
                        "usb 77 value=5\n");
    // A fault list replaces the faults (the instruments' tests show it) but
    // not the delay.
    EXPECT_FALSE(ApplyControlLine("set COM1 2 fault=nak,checksum", c));
    const StationConfig* s = FindStation(c, "COM1", 2);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->faults.lateMs, 30);
    EXPECT_FALSE(ApplyControlLine("set COM1 2 fault=none value=7.5", c));
    EXPECT_FALSE(s->faults.nak || s->faults.badChecksum || s->faults.cutOff);
    EXPECT_DOUBLE_EQ(s->reading.mean, 7.5);
    EXPECT_FALSE(ApplyControlLine("set USB77 fault=silent", c));
    EXPECT_TRUE(FindStation(c, "USB77", 0)->faults.silent);
    // Bad lines change nothing.
    for (const char* bad :
         {"set COM1 2 value=9 late=oops", "set COM1 3 value=9", "set COM2 2 value=9", "set COM1 2",
          "put COM1 2 value=9", "", "set COM1 2 stream=10"})
        EXPECT_TRUE(ApplyControlLine(bad, c)) << bad;
    EXPECT_DOUBLE_EQ(s->reading.mean, 7.5);
}

} // namespace
