// The transactions of both protocols on a fake line and a virtual clock:
// the exact request bytes, how every reply is judged and retried, how long
// they wait, and that no reply can reach a later call.
#include "AsciiStream.h"
#include "AsciiTransact.h"
#include "BusTransact.h"
#include "FakeLine.h"
#include "VexaDriver.h"

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

Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), b.begin(), b.end());
    return out;
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
const Bytes kBusWrite = {0xFE, 0x02, 0x05, 0x03, 0x0F, 0x08, 0x00, // station 2, command 5, 1.0
                         0x00, 0x00, 0x00, 0x80, 0x07, 0x0D};
const Bytes kBusExecute = {0xFE, 0x07, 0xE7, 0x01, 0x0E}; // station 7, command 103

// A reply answers each of the four attempts at once; a success ends the
// call after one request, a failure sends the same request four times.
TEST_F(OnVirtualClock, EveryReplyIsJudgedAndFailuresRetriedWithTheSameRequest) {
    struct Case {
        const char* name;
        bool bus;
        Kind kind;
        Bytes reply;
        int16_t code;
        float value = 0.0f; // after a read that succeeds
    } cases[] = {
        {"bus data", true, Read, kReplyOne, VEXA_OK, 1.0f},
        {"bus bad checksum", true, Read, {1, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 6}, VEXA_BAD_CHECKSUM},
        {"bus another station",
         true,
         Read,
         {2, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 5},
         VEXA_BAD_STATION},
        {"bus NAK", true, Read, {0x01, 0x15}, VEXA_NAK},
        {"bus one byte", true, Read, {0x01}, VEXA_BAD_LENGTH},
        {"bus too long", true, Read, {1, 3, 15, 8, 0, 0, 0, 0, 0x80, 8, 5, 0}, VEXA_BAD_LENGTH},
        // A read answered without a value must not pass as a reading.
        {"bus ACK to a read", true, Read, {0x01, 0x06}, VEXA_BAD_LENGTH},
        {"bus cut-off data", true, Read, {1, 3, 15, 8, 0}, VEXA_BAD_LENGTH},
        {"bus silent", true, Read, {}, VEXA_NO_RESPONSE},
        {"bus write ACK", true, Write, {0x02, 0x06}, VEXA_OK},
        {"bus write NAK", true, Write, {0x02, 0x15}, VEXA_NAK},
        {"bus execute ACK", true, Execute, {0x07, 0x06}, VEXA_OK},
        {"bus execute odd reply", true, Execute, {0x07, 0x41}, VEXA_BAD_LENGTH},
        {"ascii number", false, Read, Text("1234.5\r"), VEXA_OK, 1234.5f},
        {"ascii text", false, Read, Text("abc\r"), VEXA_OK, 0.0f},
        {"ascii blanks and unit", false, Read, Text(" \t-2.5e1 mV\r"), VEXA_OK, -25.0f},
        {"ascii behind the CR", false, Read, Text("7\rtrailing"), VEXA_OK, 7.0f},
        // Bytes behind the CR: no refusal, "?" reads as no number.
        {"ascii ? and more", false, Read, Text("?\rX"), VEXA_OK, 0.0f},
        {"ascii refusal", false, Read, Text("?\r"), VEXA_NAK},
        {"ascii no CR", false, Read, Text("12"), VEXA_BAD_STATION},
        {"ascii silent", false, Read, {}, VEXA_NO_RESPONSE},
        {"ascii beyond a single", false, Read, Text("1e39\r"), VEXA_PORT_ERROR},
        {"ascii write ack", false, Write, Text("\r"), VEXA_OK},
        {"ascii text to a write", false, Write, Text("OK\r"), VEXA_BAD_STATION},
        {"ascii refused write", false, Write, Text("?\r"), VEXA_NAK},
        {"ascii execute ack", false, Execute, Text("\r"), VEXA_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line.written.clear();
        AnswerAfter(1000, c.reply);
        value = kMark;
        Bytes request;
        int16_t code;
        if (c.bus) {
            request = c.kind == Read ? kBusRead : c.kind == Write ? kBusWrite : kBusExecute;
            code = c.kind == Read    ? Bus(Read, 1, 3, &value)
                   : c.kind == Write ? Bus(Write, 2, 5, &(value = 1.0f))
                                     : Bus(Execute, 7, 103, nullptr);
        } else {
            request = Text(c.kind == Read    ? "!005:SYS?\r"
                           : c.kind == Write ? "!012:W=-0000003.2500000\r"
                                             : "!999:TARE\r");
            code = c.kind == Read    ? Ascii(Read, 5, "SYS", &value)
                   : c.kind == Write ? Ascii(Write, 12, "W", &(value = -3.25f))
                                     : Ascii(Execute, 999, "TARE", nullptr);
        }
        EXPECT_EQ(code, c.code);
        if (c.kind == Read) {
            EXPECT_EQ(value, code == VEXA_OK ? c.value : kMark);
        }
        EXPECT_EQ(line.written, Repeat(request, code == VEXA_OK ? 1 : 4));
        clock.now += 10 * T;
    }
}

TEST_F(OnVirtualClock, InvalidArgumentsSendNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Bus(Read, 256, 3, &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Bus(Read, -2, 3, &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Bus(Read, 1, 0, &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Bus(Read, 1, 254, &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Bus(Execute, 1, -5, nullptr), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Ascii(Read, 1000, "SYS", &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Ascii(Read, -2, "SYS", &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(Ascii(Read, 5, nullptr, &value), VEXA_INVALID_ARGUMENT);
    float bad = nan;
    EXPECT_EQ(Ascii(Write, 5, "W", &bad), VEXA_INVALID_ARGUMENT);
    bad = inf;
    EXPECT_EQ(Ascii(Write, 5, "W", &bad), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(line.writes, 0);
    EXPECT_EQ(value, kMark);
}

TEST_F(OnVirtualClock, BusReplyIsTakenAsSoonAsItIsComplete) {
    line.onWrite = [this](const Bytes&) {
        line.Arrive(2000, {0x01, 0x03, 0x0F, 0x08, 0x00});
        line.Arrive(3500, {0x00, 0x00, 0x00, 0x80, 0x08, 0x05});
    };
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_OK);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(Elapsed(), 3500);
}

TEST_F(OnVirtualClock, AsciiReplyEndsAtItsCR) {
    line.onWrite = [this](const Bytes&) {
        line.Arrive(1000, Text("12"));
        line.Arrive(7000, Text(".5\r"));
    };
    EXPECT_EQ(Ascii(Read, 5, "SYS", &value), VEXA_OK);
    EXPECT_EQ(value, 12.5f);
    EXPECT_EQ(Elapsed(), 7000);
}

TEST_F(OnVirtualClock, SilentStationCostsFourTimeOuts) {
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Elapsed(), 4 * T);
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Elapsed(), 8 * T);
    EXPECT_EQ(line.writes, 8);
}

TEST_F(OnVirtualClock, ReplyJustInsideTheTimeOutCountsLateOneDoesNot) {
    AnswerAfter(T, {0x02, 0x06});
    EXPECT_EQ(Bus(Execute, 2, 7, nullptr), VEXA_OK);
    EXPECT_EQ(line.writes, 1);
    AnswerAfter(T + 1, {0x02, 0x06});
    EXPECT_EQ(Bus(Execute, 2, 7, nullptr), VEXA_OK);
    // The first attempt gave up just before its answer; the second took it.
    EXPECT_EQ(line.writes, 3);
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

    line.written.clear();
    AnswerAfter(1000, Text("55\r"));
    const int64_t t = clock.now;
    EXPECT_EQ(Ascii(Read, 0, "SYS", &value), VEXA_OK);
    EXPECT_EQ(clock.now - t, 200 * kMs);
    EXPECT_EQ(Ascii(Execute, -1, "SNAP", nullptr), VEXA_OK);
    EXPECT_EQ(clock.now - t, 203 * kMs);
    EXPECT_EQ(line.written, Text("!000:SYS?\r!000:SNAP\r"));
    AnswerAfter(1000, Text("3\r"));
    EXPECT_EQ(Ascii(Read, 3, "SYS", &value), VEXA_OK);
    EXPECT_EQ(value, 3.0f);
}

TEST_F(OnVirtualClock, NoLineFailsWithoutWaiting) {
    EXPECT_EQ(veldabus::Transact(nullptr, clock, 5000, veldabus::RequestKind::Read, 1, 3, &value),
              VEXA_NO_RESPONSE);
    EXPECT_EQ(velda_ascii::Transact(nullptr, clock, 5000, velda_ascii::RequestKind::Read, 1, "SYS",
                                    &value),
              VEXA_PORT_FAILED);
    EXPECT_EQ(Elapsed(), 0);
    EXPECT_EQ(value, kMark);
}

TEST_F(OnVirtualClock, FailedWriteIsNeverASuccess) {
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

// Station 1 answers each attempt with `reply(attempt)` after `delay(attempt)`
// (negative: not at all), one byte per `perByte`; then station 2 is read
// and answers at once. No byte meant for station 1 may reach station 2's
// reading, and the cost stays bounded.
TEST_F(OnVirtualClock, LateAndCutAsciiRepliesNeverReachALaterCall) {
    struct Case {
        const char* name;
        std::function<int64_t(int)> delay;
        std::function<std::string(int)> reply;
        int64_t perByte;
        int16_t code;
        float value;
        int64_t secondDoneAt;
    } cases[] = {
        {"cut by the time-out, the rest later", [](int) { return 280 * kMs; },
         [](int) { return "1234.5\r"; }, 10 * kMs, VEXA_BAD_STATION, kMark, 1360 * kMs},
        {"silent", [](int) { return -1; }, [](int) { return ""; }, 0, VEXA_NO_RESPONSE, kMark,
         5 * T},
        {"late only on the fourth attempt", [](int a) { return a < 3 ? 0 : 400 * kMs; },
         [](int a) { return a < 3 ? "?\r" : "11\r"; }, 0, VEXA_NO_RESPONSE, kMark, 400 * kMs},
        {"each reply late, taken by the next attempt", [](int) { return 400 * kMs; },
         [](int) { return "11\r"; }, 0, VEXA_OK, 11.0f, 700 * kMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clock.now += 10 * T; // past anything the previous case left
        velda_ascii::ReplyGuard guard;
        int attempt = 0;
        line.onWrite = [&](const Bytes&) {
            const int a = attempt++;
            const std::string text = c.reply(a);
            for (size_t i = 0; c.delay(a) >= 0 && i < text.size(); ++i)
                line.Arrive(c.delay(a) + static_cast<int64_t>(i) * c.perByte,
                            Text(text.substr(i, 1)));
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

TEST_F(OnVirtualClock, EndlessTrickleEndsWithinTwiceItsAttempts) {
    for (int64_t t = 0; t < 20 * T; t += 10000)
        line.Arrive(t, Text("7"));
    velda_ascii::ReplyGuard guard;
    for (int call = 0; call < 2; ++call) {
        const int64_t begin = clock.now;
        EXPECT_EQ(Ascii(Read, 1, "SYS", &value, &guard), VEXA_BAD_STATION);
        EXPECT_LE(clock.now - begin, 8 * T);
    }
    EXPECT_EQ(line.writes, 8);
    EXPECT_EQ(value, kMark);
}

TEST_F(OnVirtualClock, BrokenLineEndsEachWaitAtOnce) {
    line.hungUp = true;
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(line.writes, 8);
    line.hungUp = false;
    line.failReads = true;
    AnswerAfter(1000, Text("1\r"));
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(Elapsed(), 0);
    EXPECT_EQ(value, kMark);
}

TEST_F(OnVirtualClock, EndlessInputEndsInACode) {
    line.endless = true;
    EXPECT_EQ(Ascii(Read, 1, "SYS", &value), VEXA_BAD_STATION);
    line.endlessByte = 0x01; // the station's own number, again and again
    EXPECT_EQ(Bus(Read, 1, 3, &value), VEXA_BAD_LENGTH);
    line.endlessByte = '\r';
    EXPECT_EQ(Ascii(Write, 1, "W", &value), VEXA_OK);
    EXPECT_EQ(value, kMark);
}

// The stream behind POLLSTREAM, on what the line has queued.
class Stream : public ::testing::Test {
  protected:
    int16_t Poll() { return stream.Poll(&line, &value); }
    velda_ascii::StreamBuffer stream;
    VirtualClock clock;
    FakeLine line{clock};
    float value = kMark;
};

TEST_F(Stream, HandsOutCompleteLinesOldestFirst) {
    EXPECT_EQ(Poll(), VEXA_NO_STREAM_DATA);
    line.Arrive(0, Text("12.5\r13.5\r12."));
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 12.5f);
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 13.5f);
    // "12." has no CR yet: it stays buffered, the value untouched.
    EXPECT_EQ(Poll(), VEXA_NO_STREAM_DATA);
    EXPECT_EQ(value, 13.5f);
    line.Arrive(0, Text("5\r"));
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 12.5f);
}

TEST_F(Stream, FullBufferWithoutCRReportsUntilTheLineEnds) {
    line.Arrive(0, Text("1." + std::string(4093, '0')));
    EXPECT_EQ(Poll(), VEXA_NO_STREAM_DATA); // 4095 characters
    line.Arrive(0, Text("0"));
    EXPECT_EQ(Poll(), VEXA_STREAM_FULL);
    EXPECT_EQ(Poll(), VEXA_STREAM_FULL);
    EXPECT_EQ(value, kMark);
    line.Arrive(0, Text("5\r7\r" + std::string(4200, '7')));
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 1.0f);
    // 4096 characters or more that hold a CR: the line, not -600.
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 7.0f);
    EXPECT_EQ(Poll(), VEXA_STREAM_FULL);
}

TEST_F(Stream, StaysBoundedAndStillEndsTheLongLine) {
    line.Arrive(0, Text("3." + std::string(200000, '0')));
    EXPECT_EQ(Poll(), VEXA_STREAM_FULL);
    EXPECT_EQ(Poll(), VEXA_STREAM_FULL);
    EXPECT_LE(stream.Size(), velda_ascii::kStreamCapacity);
    line.Arrive(0, Text(std::string(100000, '0') + "\r8\r"));
    // One poll reads a bounded amount, so the CR may take a few polls.
    int16_t rc = VEXA_STREAM_FULL;
    for (int i = 0; i < 10 && rc == VEXA_STREAM_FULL; ++i)
        rc = Poll();
    EXPECT_EQ(rc, VEXA_OK);
    EXPECT_EQ(value, 3.0f);
    EXPECT_EQ(Poll(), VEXA_OK);
    EXPECT_EQ(value, 8.0f);
    EXPECT_EQ(Poll(), VEXA_NO_STREAM_DATA);
}

TEST_F(Stream, CompleteLinesInAFullBufferAreNotLost) {
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += std::to_string(i % 10) + "\r";
    line.Arrive(0, Text(many));
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(Poll(), VEXA_OK) << i;
        ASSERT_EQ(value, static_cast<float>(i % 10)) << i;
    }
    EXPECT_EQ(Poll(), VEXA_NO_STREAM_DATA);
}

TEST_F(Stream, NumberBeyondASingleIsConsumedAndReported) {
    stream.Append("1e40\r2\r");
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_PORT_ERROR);
    EXPECT_EQ(value, kMark);
    EXPECT_EQ(stream.Poll(nullptr, &value), VEXA_OK);
    EXPECT_EQ(value, 2.0f);
}

} // namespace
