#include "SimConfig.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vexasim;

namespace {

SimConfig Parse(std::string_view text) {
    SimConfig c;
    const auto err = ParseConfig(text, c);
    EXPECT_FALSE(err) << err->line << ": " << err->message;
    return c;
}

// What the instruments make of their options shows in InstrumentTest; here
// the file's own rules: comments, indentation, blank lines, several faults
// and a usb line's rate.
TEST(SimConfig, ReadsPortsStationsAndUsbInstruments) {
    const SimConfig c = Parse("# demo\nport COM12 bus 115200\n"
                              "  station 255 value=-1.5 fault=nak,cut late=40   # slow\n\n"
                              "usb 100234 value=3.25 baud=9600 fault=silent\n");
    ASSERT_EQ(c.ports.size(), 2u);
    const StationConfig& s = c.ports[0].stations.at(0);
    EXPECT_TRUE(c.ports[0].Name() == "COM12" && s.number == 255 && s.reading.mean == -1.5 &&
                s.faults.nak && s.faults.cutOff && !s.faults.silent && s.faults.lateMs == 40);
    const PortConfig& usb = c.ports[1];
    EXPECT_TRUE(usb.usb && usb.Name() == "USB100234" && usb.protocol == Protocol::Ascii &&
                usb.baud == 9600 && usb.stations.at(0).number == 0 &&
                usb.stations[0].faults.silent);
}

// Each text is refused for its last line.
TEST(SimConfig, RejectsBadLinesAndOptions) {
    std::vector<std::string> refused = {
        "station 1 value=1", "port COM1 bus 9600\nstation 256", "port COM1 bus 9600\nstation 0",
        "port COM1 ascii 9600\nstation 1000", "port COM1 bus 9600\n\nport COM1 ascii 9600",
        "port COM1 bus 9600\nstation 3\nstation 3", "port COM0 bus 9600", "port COM1x bus 9600",
        "port COM1 modbus 9600", "port COM1 bus 0", "port COM1 bus", "serial COM1", "usb 0 value=1",
        "usb 5 baud=0", "usb 5 fault=station", "usb 100\nusb 100",
        "usb 100 value=1\nstation 1", // stations belong to serial ports
        // Bus-only faults and ASCII-only streaming.
        "port COM1 ascii 9600\nstation 1 fault=checksum",
        "port COM1 ascii 9600\nstation 1 fault=station",
        "port COM1 bus 9600\nstation 1 stream=100"};
    for (const char* option :
         {"value=abc", "value=nan", "value=1e39", "wave=3e38,3e38,1", "value=inf", "value=1x",
          "wave=1,2", "wave=1,2,0", "wave=1,2,3,-1", "wave=a,2,3", "fault=broken", "late=-1",
          "late=60001", "noise=101", "snap=yes", "colour=red", "value",
          "baud=9600"}) // only a usb line takes a baud rate
        refused.push_back(std::string("port COM1 bus 9600\nstation 1 ") + option);
    for (const std::string& text : refused) {
        SimConfig c;
        const auto err = ParseConfig(text + "\n", c);
        EXPECT_TRUE(err && err->line == 1 + std::count(text.begin(), text.end(), '\n')) << text;
    }
}

// Each control line in turn: accepted or refused; a refused one changes
// nothing, a fault list replaces the faults but not the delay.
TEST(SimConfig, ControlLinesChangeOnlyWhatTheyName) {
    SimConfig c =
        Parse("port COM1 bus 9600\nstation 2 value=1 late=30 fault=cut\nusb 77 value=5\n");
    // "+" accepted, "-" refused.
    for (const std::string line :
         {"+set COM1 2 fault=nak,checksum", "+set COM1 2 fault=none value=7.5",
          "+set USB77 fault=silent", "-set COM1 2 value=9 late=oops", "-set COM1 3 value=9",
          "-set COM2 2 value=9", "-set COM1 2", "-put COM1 2 value=9", "-",
          "-set COM1 2 stream=10"})
        EXPECT_EQ(!ApplyControlLine(line.substr(1), c), line[0] == '+') << line;
    const StationConfig* s = FindStation(c, "COM1", 2);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->faults.lateMs == 30 && !s->faults.nak && !s->faults.badChecksum &&
                !s->faults.cutOff && s->reading.mean == 7.5);
    EXPECT_TRUE(FindStation(c, "USB77", 0)->faults.silent);
}

} // namespace
