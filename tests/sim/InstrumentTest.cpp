#include "Instrument.h"

#include "AsciiLine.h"
#include "BusFrame.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
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

    // Hands `request` over at the current time and runs the clock until the
    // line has been quiet for `quiet`; returns everything sent meanwhile.
    Bytes Ask(const Bytes& request, Nanos quiet = 200 * kMs) {
        m_port->Receive(request, m_now);
        return Run(quiet);
    }
    Bytes Ask(std::string_view line, Nanos quiet = 200 * kMs) {
        return Ask(Bytes(line.begin(), line.end()), quiet);
    }
    std::string AskText(std::string_view line, Nanos quiet = 200 * kMs) {
        const Bytes b = Ask(line, quiet);
        return {b.begin(), b.end()};
    }

    // Runs until the line has been quiet for `quiet` (`extend`) or for
    // exactly `quiet` (!extend).
    Bytes Run(Nanos quiet, bool extend = true) {
        Bytes out;
        Nanos until = m_now + quiet;
        const Nanos cap = m_now + quiet + 10'000 * kMs;
        for (;;) {
            const auto next = m_port->NextEvent();
            if (!next || *next > until || *next > cap) break;
            m_now = std::max(m_now, *next);
            const Bytes b = m_port->Transmit(m_now);
            if (!b.empty()) {
                out.insert(out.end(), b.begin(), b.end());
                m_lastSent = m_now;
                if (extend) until = m_now + quiet;
            }
        }
        m_now = until;
        return out;
    }

    void Set(std::string_view line) { ASSERT_FALSE(ApplyControlLine(line, m_config)); }
    InstrumentPort& Port() { return *m_port; }
    Nanos Now() const { return m_now; }
    Nanos LastSent() const { return m_lastSent; }
    void Advance(Nanos d) { m_now += d; }

  private:
    SimConfig m_config;
    std::unique_ptr<InstrumentPort> m_port;
    Nanos m_now = 1000 * kMs;
    Nanos m_lastSent = 0;
};

Bytes Frame(veldabus::RequestKind kind, int station, int command, float value = 0.0f) {
    return veldabus::BuildRequest(kind, station, command, value).value();
}
Bytes Read(int station, int command) {
    return Frame(veldabus::RequestKind::Read, station, command);
}
Bytes Write(int station, int command, float value) {
    return Frame(veldabus::RequestKind::Write, station, command, value);
}

// What the master makes of a reply: the driver's own judgement.
int Judge(veldabus::RequestKind kind, int station, const Bytes& reply, float* value = nullptr) {
    return veldabus::CheckReply(kind, static_cast<uint8_t>(station), reply, value);
}
// The reading the station gives for `command`, as the master judges it;
// NaN when the reply is no valid data reply.
float ValueOf(Bench& b, int station, int command) {
    float v = 0;
    return Judge(veldabus::RequestKind::Read, station, b.Ask(Read(station, command)), &v) == 0
               ? v
               : std::numeric_limits<float>::quiet_NaN();
}
const Bytes kAck1{0x01, 0x06}, kNak1{0x01, 0x15};

constexpr const char* kBus = "port COM1 bus 9600\n"
                             "station 1 value=1.0\n"
                             "station 2 value=2.5\n";

} // namespace

TEST(BusInstrument, ReadAnswersTheLiveReadingAfterRequestAndReplyWireTime) {
    Bench b(kBus);
    const Nanos sent = b.Now();
    EXPECT_EQ(b.Ask(Read(1, 10)),
              (Bytes{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05}));
    // 5 request bytes in, 11 reply bytes out, ten bits each at 9600 baud.
    EXPECT_EQ(b.LastSent() - sent, 16 * ByteTime(9600));
    EXPECT_EQ(ValueOf(b, 2, 10), 2.5f);
}

TEST(BusInstrument, SnapLatchesEveryStationAndTheSnapReadReturnsTheLatch) {
    Bench b(kBus);
    EXPECT_TRUE(b.Ask(Read(0, 103)).empty()); // broadcast: nobody answers
    b.Set("set COM1 1 value=11");
    b.Set("set COM1 2 value=12");
    EXPECT_EQ(ValueOf(b, 1, 23), 1.0f);
    EXPECT_EQ(ValueOf(b, 2, 23), 2.5f);
    EXPECT_EQ(ValueOf(b, 2, 10), 12.0f);
    // Addressed to one station, SNAP is acknowledged and latches only it.
    EXPECT_EQ(b.Ask(Read(1, 103)), kAck1);
    EXPECT_EQ(ValueOf(b, 1, 23), 11.0f);
    EXPECT_EQ(ValueOf(b, 2, 23), 2.5f);
    // A station without SNAP refuses it and ignores the broadcast.
    Bench off("port COM1 bus 9600\nstation 1 value=1 snap=off\n");
    EXPECT_EQ(off.Ask(Read(1, 103)), kNak1);
    EXPECT_EQ(off.Ask(Read(1, 23)), kNak1);
    EXPECT_TRUE(off.Ask(Read(0, 103)).empty());
}

TEST(BusInstrument, WritesStoreRegistersAndUnknownCommandsAreRefused) {
    Bench b(kBus);
    EXPECT_EQ(b.Ask(Read(1, 3)), kNak1); // never written: unknown
    EXPECT_EQ(b.Ask(Write(2, 5, 1.0f)), (Bytes{0x02, 0x06}));
    EXPECT_EQ(ValueOf(b, 2, 5), 1.0f);
    EXPECT_EQ(b.Ask(Read(1, 5)), kNak1); // registers are per station
    // The reading commands cannot be written.
    for (int command : {10, 23, 103})
        EXPECT_EQ(b.Ask(Write(1, command, 3.0f)), kNak1) << command;
    // A broadcast write reaches every station without a reply.
    EXPECT_TRUE(b.Ask(Write(0, 7, -4.0f)).empty());
    EXPECT_EQ(ValueOf(b, 1, 7), -4.0f);
    EXPECT_EQ(ValueOf(b, 2, 7), -4.0f);
}

TEST(BusInstrument, DamagedOrForeignFramesGetNoReplyAndTheNextFrameDoes) {
    Bench b(kBus);
    EXPECT_TRUE(b.Ask(Read(3, 10)).empty()); // no such station
    Bytes bad = Read(1, 10);
    bad.back() ^= 1;
    EXPECT_TRUE(b.Ask(bad).empty());
    // Noise and a damaged frame right in front of a good one.
    Bytes burst{0x00, 0x55, 0xFE, 0x01};
    const Bytes good = Read(1, 10);
    burst.insert(burst.end(), good.begin(), good.end());
    EXPECT_EQ(b.Ask(burst).size(), veldabus::kDataReplySize);
    // A frame abandoned half way does not swallow the next one.
    b.Ask(Bytes{0xFE, 0x01, 0x05, 0x03});
    EXPECT_EQ(b.Ask(good).size(), veldabus::kDataReplySize);

    const auto units = b.Port().TakeTrace();
    ASSERT_FALSE(units.empty());
    int requests = 0, junk = 0;
    for (const TraceUnit& u : units)
        if (u.kind != TraceUnit::Sent) (u.kind == TraceUnit::Junk ? junk : requests)++;
    EXPECT_EQ(requests, 3); // station 3 and the two good reads
    EXPECT_EQ(junk, 3);     // the damaged frame, the noise, the abandoned frame
}

TEST(BusInstrument, FaultsShowOnTheWireAsTheMasterWouldSeeThem) {
    using K = veldabus::RequestKind;
    Bench b(kBus);
    const Bytes clean = b.Ask(Read(1, 10));
    ASSERT_EQ(Judge(K::Read, 1, clean), 0);

    b.Set("set COM1 1 fault=silent");
    EXPECT_TRUE(b.Ask(Read(1, 10)).empty());
    EXPECT_TRUE(b.Ask(Read(1, 103)).empty());

    b.Set("set COM1 1 fault=nak");
    EXPECT_EQ(b.Ask(Read(1, 10)), (Bytes{0x01, 0x15}));
    EXPECT_EQ(Judge(K::Write, 1, b.Ask(Write(1, 5, 1.0f))), -400);

    b.Set("set COM1 1 fault=checksum");
    EXPECT_EQ(Judge(K::Read, 1, b.Ask(Read(1, 10))), -300);
    EXPECT_EQ(b.Ask(Write(1, 5, 1.0f)), (Bytes{0x01, 0x06})); // no checksum in an ACK

    b.Set("set COM1 1 fault=station");
    const Bytes foreign = b.Ask(Read(1, 10));
    EXPECT_EQ(foreign[0], 0x02);
    EXPECT_EQ(Judge(K::Read, 1, foreign), -200);

    b.Set("set COM1 1 fault=cut");
    EXPECT_EQ(b.Ask(Read(1, 10)), Bytes(clean.begin(), clean.end() - 1));
    EXPECT_EQ(b.Ask(Write(1, 5, 1.0f)), Bytes{0x01});

    b.Set("set COM1 1 fault=none late=40");
    const Nanos sent = b.Now();
    EXPECT_EQ(b.Ask(Read(1, 10)), clean);
    EXPECT_EQ(b.LastSent() - sent, 40 * kMs + 16 * ByteTime(9600));
}

TEST(BusInstrument, LineNoiseCorruptsExactlyOneByteOfEachReply) {
    Bench b("port COM1 bus 9600\nstation 1 value=1.0 noise=100\n");
    const Bytes clean{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
    for (int i = 0; i < 20; ++i) {
        const Bytes got = b.Ask(Read(1, 10));
        ASSERT_EQ(got.size(), clean.size());
        int differing = 0;
        for (size_t k = 0; k < got.size(); ++k)
            differing += got[k] != clean[k];
        EXPECT_EQ(differing, 1);
    }
}

TEST(BusInstrument, WaveformMovesWithinItsBounds) {
    Bench b("port COM1 bus 115200\nstation 1 wave=20,5,2,0.5\n");
    float lo = 1e9f, hi = -1e9f;
    for (int i = 0; i < 40; ++i) {
        float v = 0;
        ASSERT_EQ(Judge(veldabus::RequestKind::Read, 1, b.Ask(Read(1, 10), 50 * kMs), &v), 0);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GE(lo, 14.5f);
    EXPECT_LE(hi, 25.5f);
    EXPECT_GT(hi - lo, 5.0f); // two seconds of a 2 s period: it really moves
}

constexpr const char* kAscii = "port COM2 ascii 9600\n"
                               "station 1 value=1234.5\n"
                               "station 12 value=-3.25\n";

// Each case runs its lines in order on one port: a "set" line changes the
// instruments, any other line is a request answered as given ("" = silence).
TEST(AsciiInstrument, RequestsAndTheirReplies) {
    const std::string fast = "port COM2 ascii 115200\nstation 1 value=1234.5\n";
    const std::string registers = []() {
        std::string all;
        for (size_t i = 1; i < vexasim::kMaxRegisters; ++i)
            all += "!001:R" + std::to_string(i) + "=0000001.0000000\r";
        return all;
    }();
    struct Case {
        const char* name;
        std::string config;
        std::vector<std::pair<std::string, std::string>> steps;
    } cases[] = {
        {"reads",
         kAscii,
         {{"!012:SYS?\r", "-3.25\r"},
          {"set COM2 1 value=1", ""},
          {"!001:SYS?\r", "1\r"},
          {"set COM2 1 value=0.1", ""},
          {"!001:SYS?\r", "0.1\r"}}},
        {"snap latches, the snap read returns the latch",
         kAscii,
         {{"!000:SNAP\r", ""}, // broadcast: no reply
          {"set COM2 1 value=99", ""},
          {"!001:SYSN?\r", "1234.5\r"},
          {"!012:SYSN?\r", "-3.25\r"},
          {"!001:SYS?\r", "99\r"},
          {"!001:SNAP\r", "\r"}, // addressed: an empty line acknowledges
          {"!001:SYSN?\r", "99\r"}}},
        {"writes store registers, unknown requests are refused",
         kAscii,
         {{"!001:X?\r", "?\r"},
          {"!001:X=0000012.5000000\r", "\r"},
          {"!001:X?\r", "12.5\r"},
          {"!001:X=-0000003.2500000\r", "\r"},
          {"!001:X?\r", "-3.25\r"},
          {"!001:X=abc\r", "?\r"},
          {"!001:X=\r", "?\r"},
          {"!001:X=1e39\r", "?\r"}, // no single holds it
          {"!001:SYS=0000001.0000000\r", "?\r"},
          {"!001:SNAP=0000001.0000000\r", "?\r"},
          {"!001:FOO\r", "?\r"},
          {"!001:SNAP?\r", "?\r"},
          {"!001:?\r", "?\r"},
          {"!001:X?\r", "-3.25\r"}}},
        // The store is bounded: a new register beyond it is refused, known
        // ones still take writes.
        {"register store bounded",
         fast,
         {{"!001:X=0000001.0000000\r", "\r"},
          {registers, std::string(vexasim::kMaxRegisters - 1, '\r')},
          {"!001:NEW=0000001.0000000\r", "?\r"},
          {"!001:X=0000002.0000000\r", "\r"},
          {"!001:X?\r", "2\r"}}},
        {"malformed lines and other stations get no reply",
         fast,
         {{"!002:SYS?\r", ""},
          {"!1:SYS?\r", ""},
          {"SYS?\r", ""},
          {std::string(1000, 'A') + "\r", ""},
          {"!001:" + std::string(400, 'S') + "?\r", ""},
          // Noise in front of a request does not hide it.
          {"\x7f\x01zz!001:SYS?\r", "1234.5\r"},
          {"!00!001:SYS?\r", "1234.5\r"}}},
        {"a USB instrument answers as station 0",
         "usb 100234 value=3.25\n",
         {{"!000:SYS?\r", "3.25\r"},
          {"!000:SNAP\r", "\r"},
          {"!000:SYSN?\r", "3.25\r"},
          {"!001:SYS?\r", ""}}},
        {"faults",
         kAscii,
         {{"set COM2 1 fault=nak", ""},
          {"!001:SYS?\r", "?\r"},
          {"set COM2 1 fault=cut", ""},
          {"!001:SYS?\r", "1234.5"},
          {"set COM2 1 fault=silent", ""},
          {"!001:SYS?\r", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(c.config);
        for (const auto& [send, reply] : c.steps) {
            if (send.rfind("set ", 0) == 0)
                b.Set(send);
            else
                EXPECT_EQ(b.AskText(send), reply) << send.substr(0, 40);
        }
    }
}

TEST(AsciiInstrument, RepliesTakeTheirWireTimeAndTheLateFault) {
    Bench b(kAscii);
    Nanos sent = b.Now();
    EXPECT_EQ(b.AskText("!001:SYS?\r"), "1234.5\r");
    EXPECT_EQ(b.LastSent() - sent, (10 + 7) * ByteTime(9600));
    b.Set("set COM2 1 late=100");
    sent = b.Now();
    EXPECT_EQ(b.AskText("!001:SYS?\r", 300 * kMs), "1234.5\r");
    EXPECT_EQ(b.LastSent() - sent, 100 * kMs + 17 * ByteTime(9600));
}

TEST(AsciiInstrument, StreamSendsReadingsAndHonoursXoffAndXon) {
    Bench b("port COM2 ascii 9600\nstation 1 value=12.5 stream=100\n");
    auto runFor = [&](Nanos d) {
        const Bytes out = b.Run(d, false);
        return std::string(out.begin(), out.end());
    };
    EXPECT_EQ(runFor(0), "");                           // the stream starts with the clock
    EXPECT_EQ(runFor(350 * kMs), "12.5\r12.5\r12.5\r"); // every 100 ms
    b.Port().Receive(Bytes{0x13}, b.Now());             // XOFF: silence
    EXPECT_EQ(runFor(500 * kMs), "");
    b.Port().Receive(Bytes{0x11}, b.Now()); // XON: on again, no backlog
    const std::string after = runFor(150 * kMs);
    EXPECT_TRUE(after == "12.5\r" || after == "12.5\r12.5\r") << after;
}

TEST(AsciiInstrument, XoffHoldsAReplyHalfWay) {
    Bench b(kAscii);
    b.Port().Receive(Bytes{'!', '0', '0', '1', ':', 'S', 'Y', 'S', '?', '\r'}, b.Now());
    // Let two reply bytes out, then hold the line.
    const Nanos firstTwo = b.Now() + 12 * ByteTime(9600);
    EXPECT_EQ(b.Port().Transmit(firstTwo), (Bytes{'1', '2'}));
    b.Port().Receive(Bytes{0x13}, firstTwo);
    EXPECT_TRUE(b.Port().Transmit(firstTwo + 500 * kMs).empty());
    b.Port().Receive(Bytes{0x11}, firstTwo + 500 * kMs);
    const Bytes rest = b.Port().Transmit(firstTwo + 600 * kMs);
    EXPECT_EQ(std::string(rest.begin(), rest.end()), "34.5\r");
}

TEST(AsciiInstrument, HostThatHoldsTheLineAndKeepsAskingLosesRepliesNotMemory) {
    Bench b("port COM2 ascii 115200\nstation 1 value=1234.5\n");
    b.Port().Receive(Bytes{0x13}, b.Now());
    const std::string ask = "!001:SYS?\r"; // each reply "1234.5" CR is 7 bytes
    const size_t kept = TxLine::kMaxBacklog / 7;
    Bytes many;
    for (size_t i = 0; i < kept + 10; ++i)
        many.insert(many.end(), ask.begin(), ask.end());
    b.Port().Receive(many, b.Now());
    size_t lost = 0;
    for (const TraceUnit& u : b.Port().TakeTrace())
        lost += u.kind == TraceUnit::Lost;
    EXPECT_EQ(lost, 10u);
    // Released, the line sends what it kept, then answers again.
    b.Port().Receive(Bytes{0x11}, b.Now());
    EXPECT_EQ(b.Run(20'000 * kMs, false).size(), kept * 7);
    EXPECT_EQ(b.AskText(ask), "1234.5\r");
}
