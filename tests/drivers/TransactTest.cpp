// The transactions on a fake line and a virtual clock: how long they wait,
// and that no reply content can make them misbehave.
#include "AsciiStream.h"
#include "AsciiTransact.h"
#include "BusTransact.h"
#include "FakeLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kTimeoutMs = 300;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class OnVirtualClock : public ::testing::Test {
  protected:
    int64_t Elapsed() const { return clock.now - start; }
    // Answers every request `afterMicros` later.
    void AnswerAfter(int64_t afterMicros, Bytes reply) {
        line.onWrite = [this, afterMicros, reply](const Bytes&) {
            line.Arrive(afterMicros, reply);
        };
    }
    VirtualClock clock;
    const int64_t start = clock.now;
    FakeLine line{clock};
    float value = -7.0f;
};

TEST_F(OnVirtualClock, BusReplyIsTakenAsSoonAsItIsComplete) {
    line.onWrite = [this](const Bytes&) {
        line.Arrive(2000, {0x01, 0x03, 0x0F, 0x08, 0x00});
        line.Arrive(3500, {0x00, 0x00, 0x00, 0x80, 0x08, 0x05});
    };
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Read, 1, 3, &value), 0);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(Elapsed(), 3500);
}

TEST_F(OnVirtualClock, SilentBusStationCostsFourTimeOuts) {
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Read, 1, 3, &value),
        -100);
    EXPECT_EQ(line.writes, 4);
    EXPECT_EQ(Elapsed(), 4 * kTimeoutMs * 1000);
}

TEST_F(OnVirtualClock, ReplyJustInsideTheTimeOutCountsLateOneDoesNot) {
    AnswerAfter(kTimeoutMs * 1000, {0x02, 0x06});
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Execute, 2, 7, nullptr),
        0);
    EXPECT_EQ(line.writes, 1);
    AnswerAfter(kTimeoutMs * 1000 + 1, {0x02, 0x06});
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Execute, 2, 7, nullptr),
        0);
    // The first attempt gave up just before its answer; the second took it.
    EXPECT_EQ(line.writes, 3);
}

TEST_F(OnVirtualClock, BroadcastSettlingTimes) {
    EXPECT_EQ(veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Execute, 0, 103,
                                 nullptr),
              0);
    EXPECT_EQ(Elapsed(), 200000);
    const int64_t t = clock.now;
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Execute, -1,
                                    "SNAP", nullptr),
              0);
    EXPECT_EQ(clock.now - t, 3000);
    EXPECT_EQ(line.writes, 2);
}

TEST_F(OnVirtualClock, NoLineFailsWithoutWaiting) {
    EXPECT_EQ(veldabus::Transact(nullptr, clock, 5000, veldabus::RequestKind::Read, 1, 3, &value),
              -100);
    EXPECT_EQ(velda_ascii::Transact(nullptr, clock, 5000, velda_ascii::RequestKind::Read, 1, "SYS",
                                    &value),
              -2);
    EXPECT_EQ(Elapsed(), 0);
    EXPECT_EQ(value, -7.0f);
}

TEST_F(OnVirtualClock, AsciiReplyEndsAtItsCR) {
    line.onWrite = [this](const Bytes&) {
        line.Arrive(1000, Text("12"));
        line.Arrive(7000, Text(".5\r"));
    };
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 5,
                                    "SYS", &value),
              0);
    EXPECT_EQ(value, 12.5f);
    EXPECT_EQ(Elapsed(), 7000);
}

TEST_F(OnVirtualClock, FailedWriteIsNeverASuccess) {
    line.failWrites = true;
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Execute, 0,
                                    "SNAP", nullptr),
              -999);
    EXPECT_EQ(veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Execute, -1, 103,
                                 nullptr),
              -999);
    // An addressed request whose line went nowhere gets no reply...
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                    "SYS", &value),
              -100);
    // ...and whatever comes cannot be its answer.
    for (int i = 0; i < 4; ++i)
        line.Arrive(1000 + i * 1000, Text("5\r"));
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                    "SYS", &value),
              -999);
    for (int i = 0; i < 4; ++i)
        line.Arrive(1000 + i * 1000, {0x02, 0x06});
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Execute, 2, 7, nullptr),
        -999);
    EXPECT_EQ(value, -7.0f);
}

// Station 1 answers each attempt with `reply(attempt)` after `delay(attempt)`
// (negative: not at all), one byte per `perByte`; then station 2 is read
// and answers at once. No byte meant for station 1 may reach station 2's
// reading, and the cost stays bounded.
TEST_F(OnVirtualClock, LateAndCutAsciiRepliesNeverReachALaterCall) {
    constexpr int64_t ms = 1000, T = kTimeoutMs * ms;
    struct Case {
        const char* name;
        std::function<int64_t(int)> delay;
        std::function<std::string(int)> reply;
        int64_t perByte;
        int16_t code;
        float value;
        int64_t secondDoneAt;
    } cases[] = {
        {"cut by the time-out, the rest later", [](int) { return 280 * ms; },
         [](int) { return "1234.5\r"; }, 10 * ms, -200, -7.0f, 1360 * ms},
        {"silent", [](int) { return -1; }, [](int) { return ""; }, 0, -100, -7.0f, 5 * T},
        {"late only on the fourth attempt", [](int a) { return a < 3 ? 0 : 400 * ms; },
         [](int a) { return a < 3 ? "?\r" : "11\r"; }, 0, -100, -7.0f, 400 * ms},
        {"each reply late, taken by the next attempt", [](int) { return 400 * ms; },
         [](int) { return "11\r"; }, 0, 0, 11.0f, 700 * ms},
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
        value = -7.0f;
        EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                        "SYS", &value, &guard),
                  c.code);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(attempt, c.code == 0 ? 2 : 4);
        AnswerAfter(0, Text("22\r"));
        EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 2,
                                        "SYS", &value, &guard),
                  0);
        EXPECT_EQ(value, 22.0f);
        EXPECT_EQ(clock.now - begin, c.secondDoneAt);
    }
}

TEST_F(OnVirtualClock, EndlessTrickleEndsWithinTwiceItsAttempts) {
    for (int64_t t = 0; t < 20 * kTimeoutMs * 1000; t += 10000)
        line.Arrive(t, Text("7"));
    velda_ascii::ReplyGuard guard;
    for (int call = 0; call < 2; ++call) {
        const int64_t begin = clock.now;
        EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                        "SYS", &value, &guard),
                  -200);
        EXPECT_LE(clock.now - begin, 8 * kTimeoutMs * 1000);
    }
    EXPECT_EQ(line.writes, 8);
    EXPECT_EQ(value, -7.0f);
}

TEST_F(OnVirtualClock, BrokenLineEndsEachWaitAtOnce) {
    line.hungUp = true;
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Read, 1, 3, &value),
        -100);
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                    "SYS", &value),
              -100);
    EXPECT_EQ(line.writes, 8);
    line.hungUp = false;
    line.failReads = true;
    AnswerAfter(1000, Text("1\r"));
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                    "SYS", &value),
              -100);
    EXPECT_EQ(Elapsed(), 0);
    EXPECT_EQ(value, -7.0f);
}

TEST_F(OnVirtualClock, EndlessInputEndsInACode) {
    line.endless = true;
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Read, 1,
                                    "SYS", &value),
              -200);
    line.endlessByte = 0x01; // the station's own number, again and again
    EXPECT_EQ(
        veldabus::Transact(&line, clock, kTimeoutMs, veldabus::RequestKind::Read, 1, 3, &value),
        -500);
    line.endlessByte = '\r';
    EXPECT_EQ(velda_ascii::Transact(&line, clock, kTimeoutMs, velda_ascii::RequestKind::Write, 1,
                                    "W", &value),
              0);
    EXPECT_EQ(value, -7.0f);
}

TEST_F(OnVirtualClock, ArbitraryRepliesAlwaysEndInAKnownCode) {
    std::mt19937 rng(20261207);
    const std::vector<int16_t> busCodes = {0, -100, -200, -300, -400, -500};
    const std::vector<int16_t> asciiCodes = {0, -100, -200, -400, -999};
    for (int round = 0; round < 3000; ++round) {
        Bytes reply(rng() % 40);
        for (auto& b : reply)
            b = static_cast<uint8_t>(rng() % 4 == 0 ? "\r?1.e-"[rng() % 6] : rng());
        if (round % 2 == 0 && !reply.empty()) reply[0] = 1;
        AnswerAfter(rng() % 400000, reply);
        const int16_t bus = veldabus::Transact(
            &line, clock, kTimeoutMs, static_cast<veldabus::RequestKind>(round % 3), 1, 10, &value);
        EXPECT_NE(std::find(busCodes.begin(), busCodes.end(), bus), busCodes.end()) << bus;
        const int16_t ascii = velda_ascii::Transact(
            &line, clock, kTimeoutMs, static_cast<velda_ascii::RequestKind>(round % 3), 1, "SYS",
            &value);
        EXPECT_NE(std::find(asciiCodes.begin(), asciiCodes.end(), ascii), asciiCodes.end())
            << ascii;
    }
}

TEST(StreamBuffer, StaysBoundedAndStillEndsTheLongLine) {
    velda_ascii::StreamBuffer stream;
    VirtualClock clock;
    FakeLine line(clock);
    float value = -7.0f;
    line.Arrive(0, Text("3." + std::string(200000, '0')));
    EXPECT_EQ(stream.Poll(&line, &value), -600);
    EXPECT_EQ(stream.Poll(&line, &value), -600);
    EXPECT_LE(stream.Size(), velda_ascii::kStreamCapacity);
    line.Arrive(0, Text(std::string(100000, '0') + "\r8\r"));
    // One poll reads a bounded amount, so the CR may take a few polls.
    int16_t rc = -600;
    for (int i = 0; i < 10 && rc == -600; ++i)
        rc = stream.Poll(&line, &value);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(value, 3.0f);
    EXPECT_EQ(stream.Poll(&line, &value), 0);
    EXPECT_EQ(value, 8.0f);
    EXPECT_EQ(stream.Poll(&line, &value), -700);
}

TEST(StreamBuffer, CompleteLinesInAFullBufferAreNotLost) {
    velda_ascii::StreamBuffer stream;
    VirtualClock clock;
    FakeLine line(clock);
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += std::to_string(i % 10) + "\r";
    line.Arrive(0, Text(many));
    float value = -1.0f;
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(stream.Poll(&line, &value), 0) << i;
        ASSERT_EQ(value, static_cast<float>(i % 10)) << i;
    }
    EXPECT_EQ(stream.Poll(&line, &value), -700);
}

TEST(StreamBuffer, NumberBeyondASingleIsConsumedAndReported) {
    velda_ascii::StreamBuffer stream;
    float value = -7.0f;
    stream.Append("1e40\r2\r");
    EXPECT_EQ(stream.Poll(nullptr, &value), -999);
    EXPECT_EQ(value, -7.0f);
    EXPECT_EQ(stream.Poll(nullptr, &value), 0);
    EXPECT_EQ(value, 2.0f);
}

} // namespace
