// The transactions of both protocols on a fake line and a virtual clock:
// the exact request bytes, how every reply is judged and retried, how long
// they wait, and that no reply can reach a later call.
#include "AsciiStream.h"
#include "AsciiTransact.h"
#include "BusTransact.h"
#include "VexaResultText.h"
#include "support/FakeLine.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kTimeoutMs = 300;
constexpr int64_t kMs = 1000, T = kTimeoutMs * kMs;
constexpr float kMark = -7.0f;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

enum Kind { Read, Write, Execute };

class OnVirtualClock : public ::testing::Test {
  protected:
    int64_t Elapsed() const { return clock.now - start; }
    // Answers every request `afterMicros` later.
    void AnswerAfter(int64_t afterMicros, Bytes reply) {
        line.onWrite = [this, afterMicros, reply](const Bytes&) {
            line.Arrive(afterMicros, reply);
        };
    }
    int16_t Bus(Kind kind, int station, int command, float* v) {
        return veldabus::Transact(&line, clock, kTimeoutMs,
                                  static_cast<veldabus::RequestKind>(kind), station, command, v);
    }
    int16_t Ascii(Kind kind, int station, const char* command, float* v,
                  velda_ascii::ReplyGuard* guard = nullptr) {
        return velda_ascii::Transact(&line, clock, kTimeoutMs,
                                     static_cast<velda_ascii::RequestKind>(kind), station, command,
                                     v, guard);
    }
    VirtualClock clock;
    const int64_t start = clock.now;
    FakeLine line{clock};
    float value = kMark;
};

const Bytes kBusRead = {0xFE, 0x01, 0x83, 0x07, 0x0C}; // station 1, command 3
const Bytes kReplyOne = {0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
// Station 2, command 130 (bit 7 kept in a write frame too), -3.25
// (0xC0500000; the end mark is dropped only from the last byte).
const Bytes kBusWrite = {0xFE, 0x02, 0x82, 0x0C, 0x00, 0x05, 0x00,
                         0x00, 0x00, 0x00, 0x80, 0x0F, 0x07};
const Bytes kBusExecute = {0xFE, 0x07, 0xE7, 0x01, 0x0E}; // station 7, command 103

// Each attempt is answered with `pieces` (virtual time after its request,
// bytes); a success ends the call after one request, a failure sends the
// same request four times.
TEST_F(OnVirtualClock, EveryReplyIsJudgedTimedAndRetriedWithTheSameRequest) {
    using Pieces = std::vector<std::pair<int64_t, Bytes>>;
    const auto at1 = [](Bytes b) { return Pieces{{kMs, std::move(b)}}; };
    struct Case {
        const char* name;
        bool bus;
        Kind kind;
        Pieces pieces;
        int16_t code;
        float value = 0.0f;   // after a read that succeeds
        int64_t elapsed = -1; // when it matters
    } cases[] = {
        {"bus data", true, Read, at1(kReplyOne), VEXA_OK, 1.0f, kMs},
        {"bus split",
         true,
         Read,
         {{2 * kMs, {1, 3, 15, 8, 0}}, {3500, {0, 0, 0, 0x80, 8, 5}}},
         VEXA_OK,
         1.0f,
         3500},
        {"bus bad checksum", true, Read, at1({1, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 6}),
         VEXA_BAD_CHECKSUM},
        {"bus another station", true, Read, at1({2, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 5}),
         VEXA_BAD_STATION},
        {"bus NAK", true, Read, at1({0x01, 0x15}), VEXA_NAK},
        {"bus too long", true, Read, at1({1, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 5, 0}),
         VEXA_BAD_LENGTH},
        // A read answered without a value must not pass as a reading.
        {"bus ACK to a read", true, Read, at1({0x01, 0x06}), VEXA_BAD_LENGTH},
        {"bus cut-off data", true, Read, at1({1, 3, 15, 8, 0}), VEXA_BAD_LENGTH},
        {"bus silent", true, Read, {}, VEXA_NO_RESPONSE, 0, 4 * T},
        {"bus write ACK", true, Write, at1({0x02, 0x06}), VEXA_OK},
        {"bus ACK just in time", true, Execute, {{T, {0x07, 0x06}}}, VEXA_OK, 0, T},
        // The first attempt gives up just before its answer; the second takes it.
        {"bus ACK just late", true, Execute, {{T + 1, {0x07, 0x06}}}, VEXA_OK, 0, T + 1},
        {"bus execute odd reply", true, Execute, at1({0x07, 0x41}), VEXA_BAD_LENGTH},
        {"ascii number", false, Read, at1(Text("1234.5\r")), VEXA_OK, 1234.5f},
        {"ascii split",
         false,
         Read,
         {{kMs, Text("12")}, {7 * kMs, Text(".5\r")}},
         VEXA_OK,
         12.5f,
         7 * kMs},
        {"ascii behind the CR", false, Read, at1(Text("7\rtrailing")), VEXA_OK, 7.0f},
        // Bytes behind the CR: no refusal, "?" reads as no number.
        {"ascii ? and more", false, Read, at1(Text("?\rX")), VEXA_OK, 0.0f},
        {"ascii refusal", false, Read, at1(Text("?\r")), VEXA_NAK},
        {"ascii no CR", false, Read, at1(Text("12")), VEXA_BAD_STATION},
        {"ascii silent", false, Read, {}, VEXA_NO_RESPONSE, 0, 4 * T},
        {"ascii beyond a single", false, Read, at1(Text("1e39\r")), VEXA_PORT_ERROR},
        {"ascii text to a write", false, Write, at1(Text("OK\r")), VEXA_BAD_STATION},
        {"ascii refused write", false, Write, at1(Text("?\r")), VEXA_NAK},
        {"ascii execute ack", false, Execute, at1(Text("\r")), VEXA_OK},
    };
    // The call of each protocol and kind, and its request.
    struct Request {
        int station, command;
        const char* text;
        Bytes bytes;
    } const requests[2][3] = {
        {{5, 0, "SYS", Text("!005:SYS?\r")},
         {12, 0, "W", Text("!012:W=-0000003.2500000\r")},
         {999, 0, "TARE", Text("!999:TARE\r")}},
        {{1, 3, nullptr, kBusRead}, {2, 130, nullptr, kBusWrite}, {7, 103, nullptr, kBusExecute}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clock.now += 10 * T; // past anything the previous case left
        line.written.clear();
        line.onWrite = [&](const Bytes&) {
            for (const auto& [after, bytes] : c.pieces)
                line.Arrive(after, bytes);
        };
        value = c.kind == Write ? -3.25f : kMark;
        const int64_t begin = clock.now;
        const Request& r = requests[c.bus][c.kind];
        const int16_t code = c.bus ? Bus(c.kind, r.station, r.command, &value)
                                   : Ascii(c.kind, r.station, r.text, &value);
        EXPECT_EQ(code, c.code);
        EXPECT_TRUE(VexaIsResultCode(code));
        if (c.kind == Read) {
            EXPECT_EQ(value, code == VEXA_OK ? c.value : kMark);
        }
        if (c.elapsed >= 0) {
            EXPECT_EQ(clock.now - begin, c.elapsed);
        }
        const int attempts = code != VEXA_OK ? 4 : c.elapsed > T ? 2 : 1;
        Bytes expected;
        for (int i = 0; i < attempts; ++i)
            expected.insert(expected.end(), r.bytes.begin(), r.bytes.end());
        EXPECT_EQ(line.written, expected);
    }
}

// A station that answers a broadcast anyway: its bytes must not reach the
// next transaction.
TEST_F(OnVirtualClock, BroadcastsSettleOnceAndDropWhatComesBack) {
    AnswerAfter(1000, {0x00, 0x06, 0x00});
    EXPECT_EQ(Bus(Execute, 0, 103, nullptr), VEXA_OK);
    EXPECT_EQ(Elapsed(), 200 * kMs);
    EXPECT_EQ(Bus(Read, -1, 3, &value), VEXA_OK);
    EXPECT_EQ(Elapsed(), 203 * kMs);
    EXPECT_EQ(value, kMark);
    EXPECT_EQ(line.written, (Bytes{0xFE, 0x00, 0xE7, 0x01, 0x09, 0xFE, 0x00, 0x83, 0x07, 0x0D}));
    AnswerAfter(1000, kReplyOne);
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_OK);
    EXPECT_EQ(value, 1.0f);

    // The ASCII broadcast takes the same path: the value stays.
    AnswerAfter(1000, Text("55\r"));
    EXPECT_EQ(Ascii(Read, 0, "SYS", &value), VEXA_OK);
    EXPECT_EQ(Elapsed(), 404 * kMs);
    EXPECT_EQ(value, 1.0f);
}

// The ranges are the fuzz target's (argument errors send nothing); here
// what it cannot produce: no command, and a value that has no text.
TEST_F(OnVirtualClock, NoLineOrAFailedWriteIsNeverASuccess) {
    EXPECT_EQ(Ascii(Read, 5, nullptr, &value), VEXA_INVALID_ARGUMENT);
    float bad = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Ascii(Write, 5, "W", &bad), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(line.writes, 0);
    EXPECT_EQ(veldabus::Transact(nullptr, clock, 5000, veldabus::RequestKind::Read, 1, 3, &value),
              VEXA_NO_RESPONSE);
    EXPECT_EQ(velda_ascii::Transact(nullptr, clock, 5000, velda_ascii::RequestKind::Read, 1, "SYS",
                                    &value),
              VEXA_PORT_FAILED);
    EXPECT_EQ(Elapsed(), 0);
    line.failWrites = true;
    EXPECT_EQ(Ascii(Execute, 0, "SNAP", nullptr), VEXA_PORT_ERROR);
    EXPECT_EQ(Bus(Execute, -1, 103, nullptr), VEXA_PORT_ERROR);
    // An addressed request whose line went nowhere gets no reply...
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    // ...and whatever comes cannot be its answer.
    for (int i = 0; i < 4; ++i)
        line.Arrive(1000 + i * 1000, Text("5\r"));
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_PORT_ERROR);
    for (int i = 0; i < 4; ++i)
        line.Arrive(1000 + i * 1000, {0x02, 0x06});
    EXPECT_EQ(Bus(Execute, 2, 7, nullptr), VEXA_PORT_ERROR);
    EXPECT_EQ(value, kMark);
}

// Station 1 answers each attempt with `reply` after `delay`, one byte per
// `perByte`; then station 2 is read and answers at once. No byte meant for
// station 1 may reach station 2's reading, and the cost stays bounded. (Late
// only beyond the last attempt is the library's wire test.)
TEST_F(OnVirtualClock, LateAndCutAsciiRepliesNeverReachALaterCall) {
    struct Case {
        const char* name;
        int64_t delay;
        std::string reply;
        int64_t perByte;
        int16_t code;
        float value;
        int64_t secondDoneAt;
    } cases[] = {
        {"cut by the time-out, the rest later", 280 * kMs, "1234.5\r", 10 * kMs, VEXA_BAD_STATION,
         kMark, 1360 * kMs},
        {"each reply late, taken by the next attempt", 400 * kMs, "11\r", 0, VEXA_OK, 11.0f,
         700 * kMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clock.now += 10 * T; // past anything the previous case left
        velda_ascii::ReplyGuard guard;
        int attempt = 0;
        line.onWrite = [&](const Bytes&) {
            ++attempt;
            for (size_t i = 0; i < c.reply.size(); ++i)
                line.Arrive(c.delay + static_cast<int64_t>(i) * c.perByte,
                            Text(c.reply.substr(i, 1)));
        };
        const int64_t begin = clock.now;
        value = kMark;
        EXPECT_EQ(Ascii(Read, 1, "SYS", &value, &guard), c.code);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(attempt, c.code == VEXA_OK ? 2 : 4);
        AnswerAfter(0, Text("22\r"));
        EXPECT_EQ(Ascii(Read, 2, "SYS", &value, &guard), VEXA_OK);
        EXPECT_EQ(value, 22.0f);
        EXPECT_EQ(clock.now - begin, c.secondDoneAt);
    }
}

// A hung-up line or failing reads end each wait at once; input without end
// still ends in a code.
TEST_F(OnVirtualClock, BrokenOrEndlessLineEndsInACode) {
    line.hungUp = true;
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(line.writes, 8);
    line.hungUp = false;
    line.failReads = true;
    AnswerAfter(1000, Text("1\r"));
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Elapsed(), 0);
    line.failReads = false;
    line.endless = true;
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_BAD_STATION);
    line.endlessByte = '\r';
    EXPECT_EQ(Ascii(Write, 1, "W", &value), VEXA_OK);
    line.endlessByte = 0x01; // the station's own number, again and again
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_BAD_LENGTH);
    EXPECT_EQ(value, kMark);
}

// The stream buffer's limits; its order and one-line-per-poll are the
// fuzz target's (fuzz/pollstream_fuzzer.cpp, whose seeds hold these cases).
TEST(Stream, FullBufferReportsDropsTheMiddleAndStillEndsTheLine) {
    velda_ascii::StreamBuffer stream;
    float value = kMark;
    stream.Append("1." + std::string(4093, '0'));
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_NO_STREAM_DATA); // 4095 characters
    stream.Append(std::string(velda_ascii::kStreamCapacity, '0'));
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_STREAM_FULL);
    const size_t full = stream.Size();
    stream.Append(std::string(100000, '0') + "5\r1e40\r2\r");
    EXPECT_EQ(stream.Size(), full + 8); // up to the CR the rest of the line is dropped
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_OK);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_PORT_ERROR); // consumed, the value kept
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_OK);
    EXPECT_EQ(value, 2.0f);
}

} // namespace
