#include "Instrument.h"

#include "AsciiLine.h"
#include "BusFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <sstream>
#include <string>

using namespace vexasim;

namespace {

constexpr Nanos kMs = 1'000'000;
using Bytes = std::vector<uint8_t>;

// One simulated port on a virtual clock.
class Bench {
  public:
    explicit Bench(std::string_view text) {
        const auto err = ParseConfig(text, m_config);
        EXPECT_FALSE(err) << err->message;
        m_port = std::make_unique<InstrumentPort>(m_config.ports.at(0), 7);
    }
    // Hands `request` over now and runs the clock until the line has been
    // quiet for `quiet`; returns everything sent meanwhile.
    Bytes Ask(const Bytes& request, Nanos quiet = 200 * kMs) {
        m_port->Receive(request, m_now);
        return Run(quiet);
    }
    // Runs until the line has been quiet for `quiet` (`extend`) or for
    // exactly `quiet` (!extend).
    Bytes Run(Nanos quiet, bool extend = true) {
        Bytes out;
        Nanos until = m_now + quiet;
        for (auto next = m_port->NextEvent(); next && *next <= until; next = m_port->NextEvent()) {
            m_now = std::max(m_now, *next);
            const Bytes b = m_port->Transmit(m_now);
            out.insert(out.end(), b.begin(), b.end());
            if (!b.empty() && extend) until = m_now + quiet;
        }
        m_now = until;
        return out;
    }
    void Set(std::string_view line) { ASSERT_FALSE(ApplyControlLine(line, m_config)); }
    SimConfig m_config;
    std::unique_ptr<InstrumentPort> m_port;
    Nanos m_now = 1000 * kMs;
};

std::string Text(const Bytes& b) {
    return {b.begin(), b.end()};
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    for (uint8_t b : bytes)
        out += (out.empty() ? "" : " ") +
               std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return out;
}

// A bus request: "r S C" and "w S C V" are read and write frames, anything
// else hex bytes.
Bytes BusRequest(const std::string& step) {
    std::istringstream in(step.substr(1));
    int station = 0, command = 0;
    float value = 0;
    Bytes bytes;
    if (step[0] == 'r' || step[0] == 'w') {
        in >> station >> command >> value;
        return *veldabus::BuildRequest(step[0] == 'r' ? veldabus::RequestKind::Read
                                                      : veldabus::RequestKind::Write,
                                       station, command, value);
    }
    for (unsigned byte; std::istringstream(step).ignore(bytes.size() * 3) >> std::hex >> byte;)
        bytes.push_back(static_cast<uint8_t>(byte));
    return bytes;
}

// What the master makes of a bus reply: when "=V" is expected, "=V" for a
// read the driver's own judgement takes as the reading V; otherwise the
// bytes in hex. Hex requests are meant for station 1.
std::string Judged(const std::string& request, const Bytes& reply, const std::string& expected) {
    const int station = isalpha(request[0]) ? std::stoi(request.substr(2)) : 1;
    float v = 0;
    char text[32];
    if (expected.rfind('=', 0) != 0 ||
        veldabus::CheckReply(veldabus::RequestKind::Read, uint8_t(station), reply, &v) != 0)
        return Hex(reply);
    return "=" + std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

constexpr const char* kBus = "port COM1 bus 9600\nstation 1 value=1.0\nstation 2 value=2.5\n";
constexpr const char* kAscii = "port COM2 ascii 115200\nstation 1 value=1234.5\n"
                               "station 12 value=-3.25\n";

} // namespace

// Each case runs its steps in order on one port: "set ..." changes the
// instruments, any other step is a request and the reply it gets ("" =
// silence): text on an ASCII port; on a bus port as BusRequest and Judged.
TEST(Instrument, RequestsAndTheirReplies) {
    std::string registers;
    for (size_t i = 1; i < vexasim::kMaxRegisters; ++i)
        registers += "!001:R" + std::to_string(i) + "=0000001.0000000\r";
    struct Case {
        const char* name;
        std::string config;
        std::vector<std::string> steps; // "request -> reply" or "set ..."
    } cases[] = {
        {"bus reads; writes per station; refusals; a broadcast write",
         kBus,
         {"r 1 10 -> 01 03 0F 08 00 00 00 00 80 08 05", "r 1 3 -> 01 15", "w 2 5 1 -> 02 06",
          "r 2 5 -> =1", "r 1 5 -> 01 15", "w 1 10 3 -> 01 15", "w 1 23 3 -> 01 15",
          "w 1 103 3 -> 01 15", "w 0 7 -4 ->", "r 1 7 -> =-4", "r 2 7 -> =-4"}},
        {"bus faults (an ACK has no checksum to break)",
         kBus,
         {"set COM1 1 fault=silent", "r 1 10 ->", "set COM1 1 fault=nak", "w 1 5 1 -> 01 15",
          "set COM1 1 fault=checksum", "w 1 5 1 -> 01 06", "set COM1 1 fault=cut",
          "r 1 10 -> 01 03 0F 08 00 00 00 00 80 08", "w 1 5 1 -> 01"}},
        // A broadcast snap latches every station silently, an addressed one
        // only it, with an ACK.
        {"bus snap",
         kBus,
         {"r 0 103 ->", "set COM1 1 value=11", "set COM1 2 value=12", "r 1 23 -> =1",
          "r 1 103 -> 01 06", "r 1 23 -> =11", "r 2 23 -> =2.5"}},
        {"bus station without snap",
         "port COM1 bus 9600\nstation 1 value=1 snap=off\n",
         {"r 1 103 -> 01 15", "r 1 23 -> 01 15", "r 0 103 ->"}},
        // Noise and damaged or abandoned frames get no reply and do not hide
        // the next good frame.
        {"bus damaged or foreign frames",
         kBus,
         {"r 3 10 ->", "FE 01 8A 07 04 ->", "00 55 FE 01 FE 01 8A 07 05 -> =1", "FE 01 05 03 ->",
          "r 1 10 -> =1"}},
        {"ascii reads and writes; values no single holds and unknown requests are refused",
         kAscii,
         {"!012:SYS?\r -> -3.25\r", "set COM2 1 value=0.1", "!001:SYS?\r -> 0.1\r",
          "!001:X?\r -> ?\r", "!001:X=0000012.5000000\r -> \r", "!001:X?\r -> 12.5\r",
          "!001:X=-0000003.2500000\r -> \r", "!001:X=abc\r -> ?\r", "!001:X=\r -> ?\r",
          "!001:X=1e39\r -> ?\r", "!001:SYS=0000001.0000000\r -> ?\r",
          "!001:SNAP=0000001.0000000\r -> ?\r", "!001:FOO\r -> ?\r", "!001:SNAP?\r -> ?\r",
          "!001:?\r -> ?\r", "!001:X?\r -> -3.25\r",
          "!001:SNAP\r -> \r"}}, // an addressed snap acknowledges with an empty line
        // The store is bounded: a new register beyond it is refused, known
        // ones still take writes.
        {"ascii register store bounded",
         kAscii,
         {"!001:X=0000001.0000000\r -> \r",
          registers + " -> " + std::string(vexasim::kMaxRegisters - 1, '\r'),
          "!001:NEW=0000001.0000000\r -> ?\r", "!001:X=0000002.0000000\r -> \r",
          "!001:X?\r -> 2\r"}},
        // Malformed lines and other stations get no reply; noise in front of
        // a request does not hide it.
        {"ascii malformed lines",
         kAscii,
         {"!002:SYS?\r ->", "!1:SYS?\r ->", "SYS?\r ->", std::string(1000, 'A') + "\r ->",
          "!001:" + std::string(400, 'S') + "?\r ->", "\x7f\x01zz!001:SYS?\r -> 1234.5\r",
          "!00!001:SYS?\r -> 1234.5\r"}},
        {"a USB instrument answers as station 0; a silent one not at all",
         "usb 100234 value=3.25\n",
         {"!000:SYS?\r -> 3.25\r", "!001:SYS?\r ->", "set USB100234 fault=silent",
          "!000:SYS?\r ->"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(c.config);
        const bool bus = b.m_port->Config().protocol == Protocol::Bus;
        for (const std::string& step : c.steps) {
            const size_t arrow = step.find(" ->");
            if (arrow == std::string::npos) {
                b.Set(step);
                continue;
            }
            const std::string send = step.substr(0, arrow),
                              reply = step.substr(std::min(step.size(), arrow + 4));
            if (bus) {
                EXPECT_EQ(Judged(send, b.Ask(BusRequest(send)), reply), reply) << send;
            } else {
                EXPECT_EQ(Text(b.Ask(Bytes(send.begin(), send.end()))), reply)
                    << send.substr(0, 40);
            }
        }
    }
}

TEST(Instrument, StreamAndRepliesHonourXoffAndXon) {
    Bench b("port COM2 ascii 9600\nstation 1 value=12.5 stream=100\n");
    EXPECT_EQ(Text(b.Run(350 * kMs, false)), "12.5\r12.5\r12.5\r"); // every 100 ms
    b.m_port->Receive(Bytes{0x13}, b.m_now);                        // XOFF: silence
    EXPECT_EQ(Text(b.Run(500 * kMs, false)), "");
    b.m_port->Receive(Bytes{0x11}, b.m_now); // XON: on again, no backlog
    const std::string after = Text(b.Run(150 * kMs, false));
    EXPECT_TRUE(after == "12.5\r" || after == "12.5\r12.5\r") << after;
    // A host that holds the line and keeps asking loses replies, not memory.
    Bench h(kAscii);
    const std::string ask = "!001:SYS?\r"; // each reply "1234.5" CR is 7 bytes
    const size_t kept = TxLine::kMaxBacklog / 7;
    std::string many = "\x13"; // XOFF first
    for (size_t i = 0; i < kept + 10; ++i)
        many += ask;
    h.m_port->Receive(Bytes(many.begin(), many.end()), h.m_now);
    const std::vector<TraceUnit> trace = h.m_port->TakeTrace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const TraceUnit& u) { return u.kind == TraceUnit::Lost; }),
              10);
    // Released, the line sends what it kept, then answers again.
    h.m_port->Receive(Bytes{0x11}, h.m_now);
    EXPECT_EQ(h.Run(20'000 * kMs, false).size(), kept * 7);
    EXPECT_EQ(Text(h.Ask(Bytes(ask.begin(), ask.end()))), "1234.5\r");
}
