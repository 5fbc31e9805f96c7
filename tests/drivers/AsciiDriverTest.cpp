// The ASCII driver on the wire: request lines, reply rules, the stream.
#include "DriverApi.h"

#include <gtest/gtest.h>

#include <poll.h>

namespace {

std::string Repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

class AsciiWire : public ::testing::Test, protected PortsFixtureBase {
  protected:
    void SetUp() override {
        instrument.LinkAs(ports.Path(), "COM3");
        ASSERT_EQ(api.openPort(kPort, kBaud), 0);
        ASSERT_EQ(api.setTimeout(kShortTimeout), 0);
    }
    void Answer(const std::string& reply) {
        instrument.Serve(AsciiFramer, [reply](const Bytes&, int) { return ToBytes(reply); });
    }
    std::string Sent(size_t atLeast) { return ToText(instrument.Received(atLeast)); }

    PtyInstrument instrument;
    DriverLibrary lib{"VeldaASCII2Drv"};
    AsciiApi api{lib};
};

TEST_F(AsciiWire, ReadSendsRequestLineAndConvertsReply) {
    struct Case {
        std::string reply;
        float value;
    } cases[] = {
        {"1234.5\r", 1234.5f},
        {"abc\r", 0.0f},
        {" \t-2.5e1 mV\r", -25.0f},
        {"7\rtrailing", 7.0f},
        // Bytes behind the CR: no refusal, "?" reads as no number.
        {"?\rX", 0.0f},
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        Answer(c.reply);
        float value = -7.0f;
        EXPECT_EQ(api.read(5, "SYS", &value), 0);
        EXPECT_EQ(value, c.value);
        sent += 10;
        EXPECT_EQ(Sent(sent), Repeat("!005:SYS?\r", static_cast<int>(sent / 10)));
    }
}

TEST_F(AsciiWire, WriteAndExecuteSendTheirLinesAndNeedAnEmptyReply) {
    Answer("\r");
    EXPECT_EQ(api.write(12, "W", -3.25f), 0);
    EXPECT_EQ(Sent(24), "!012:W=-0000003.2500000\r");
    EXPECT_EQ(api.write(7, "X", 12.5f), 0);
    EXPECT_EQ(api.execute(999, "TARE"), 0);
    EXPECT_EQ(Sent(24 + 23 + 10), "!012:W=-0000003.2500000\r!007:X=0000012.5000000\r!999:TARE\r");
}

TEST_F(AsciiWire, FailedRepliesAreRetriedFourTimes) {
    struct Case {
        const char* name;
        std::string reply;
        bool read;
        int16_t code;
    } cases[] = {
        {"refusal", "?\r", true, -400},
        {"no CR", "12", true, -200},
        {"silent", "", true, -100},
        {"number beyond a single", "1e39\r", true, -999},
        {"text to a write", "OK\r", false, -200},
        {"refusal of a write", "?\r", false, -400},
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.reply);
        float value = -7.0f;
        if (c.read) {
            EXPECT_EQ(api.read(5, "SYS", &value), c.code);
            EXPECT_EQ(value, -7.0f);
        } else {
            EXPECT_EQ(api.write(5, "W", 1.0f), c.code);
        }
        const std::string line = c.read ? "!005:SYS?\r" : "!005:W=0000001.0000000\r";
        sent += 4 * line.size();
        const std::string all = Sent(sent);
        EXPECT_EQ(all.size(), sent);
        EXPECT_EQ(all.substr(all.size() - 4 * line.size()), Repeat(line, 4));
    }
}

TEST_F(AsciiWire, EndlessReplyWithoutCREndsInACode) {
    instrument.Serve(AsciiFramer,
                     [](const Bytes&, int) { return Bytes(6000, static_cast<uint8_t>('9')); });
    float value = -7.0f;
    EXPECT_EQ(api.read(5, "SYS", &value), -200);
    EXPECT_EQ(value, -7.0f);
}

// Station 1 answers late or cut, station 2 at once: none of station 1's
// bytes may come back as station 2's reading, nor as a wrong value of its own.
TEST_F(AsciiWire, LateAndCutRepliesNeverReachTheNextRequest) {
    constexpr int16_t kTimeout = 100;
    struct Case {
        const char* name;
        std::function<std::string(int)> reply; // to station 1's n-th request
        std::function<Pace(int)> pace;
        int16_t code; // 0 means 11 was read
    } cases[] = {
        {"cut by the time-out, the rest later", [](int) { return "1234.5\r"; },
         [](int) {
             return Pace{80, 10};
         },
         -200},
        {"late only on the fourth attempt", [](int n) { return n < 3 ? "?\r" : "11\r"; },
         [](int n) {
             return Pace{n < 3 ? 0 : 150, 0};
         },
         -100},
        {"late, taken by the next attempt", [](int) { return "11\r"; },
         [](int) {
             return Pace{125, 0};
         },
         0},
    };
    ASSERT_EQ(api.setTimeout(kTimeout), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto isStation1 = [](const Bytes& req) { return ToText(req) == "!001:SYS?\r"; };
        int station1Requests = 0;
        instrument.Serve(
            AsciiFramer,
            [&](const Bytes& req, int) {
                return ToBytes(isStation1(req) ? c.reply(station1Requests++) : "22\r");
            },
            [&](const Bytes& req, int) {
                return isStation1(req) ? c.pace(station1Requests - 1) : Pace{};
            });
        const size_t before = Sent(0).size();
        float value = -7.0f;
        const int16_t code = api.read(1, "SYS", &value);
        // A slow machine may see the cut reply whole, in the next attempt.
        const bool wholeLate = c.code == -200 && code == 0 && value == 1234.5f;
        if (!wholeLate) {
            EXPECT_EQ(code, c.code);
            EXPECT_EQ(value, c.code == 0 ? 11.0f : -7.0f);
        }
        EXPECT_EQ(api.read(2, "SYS", &value), 0);
        EXPECT_EQ(value, 22.0f);
        const int lines = wholeLate ? station1Requests : c.code == 0 ? 2 : 4;
        EXPECT_EQ(Sent(0).substr(before), Repeat("!001:SYS?\r", lines) + "!002:SYS?\r");
    }
}

TEST_F(AsciiWire, InvalidArgumentsSendNothing) {
    float value = -7.0f;
    EXPECT_EQ(api.read(1000, "SYS", &value), -1);
    EXPECT_EQ(api.read(-2, "SYS", &value), -1);
    EXPECT_EQ(api.read(5, nullptr, &value), -1);
    EXPECT_EQ(api.write(5, "W", std::numeric_limits<float>::quiet_NaN()), -1);
    EXPECT_EQ(api.write(5, "W", std::numeric_limits<float>::infinity()), -1);
    EXPECT_EQ(value, -7.0f);
    Answer("1\r");
    EXPECT_EQ(api.read(5, "SYS", &value), 0);
    EXPECT_EQ(Sent(10), "!005:SYS?\r");
}

TEST_F(AsciiWire, BroadcastsAwaitNoReply) {
    Answer("55\r");
    float value = -7.0f;
    EXPECT_EQ(api.read(0, "SYS", &value), 0);
    EXPECT_EQ(value, -7.0f);
    EXPECT_EQ(api.execute(-1, "SNAP"), 0);
    EXPECT_EQ(Sent(20), "!000:SYS?\r!000:SNAP\r");
    // What stations said to the broadcast is gone before the next request.
    instrument.Serve(AsciiFramer, [](const Bytes& req, int) {
        return ToBytes(ToText(req) == "!003:SYS?\r" ? "3\r" : "55\r");
    });
    EXPECT_EQ(api.execute(0, "SNAP"), 0);
    EXPECT_EQ(api.read(3, "SYS", &value), 0);
    EXPECT_EQ(value, 3.0f);
}

TEST_F(AsciiWire, NoPortOpenIsAFailureAndSendsNothing) {
    ASSERT_EQ(api.closePort(), 0);
    float value = -7.0f;
    EXPECT_EQ(api.read(5, "SYS", &value), -2);
    EXPECT_EQ(api.write(5, "W", 1.0f), -2);
    EXPECT_EQ(api.execute(5, "TARE"), -2);
    EXPECT_EQ(value, -7.0f);
    api.sendXoff();
    api.sendXon();
    EXPECT_EQ(api.pollStream(&value), -700);
    EXPECT_TRUE(instrument.Received().empty());
}

class AsciiStream : public AsciiWire {
  protected:
    // Sends `text` and polls until the driver's result changes from `while`,
    // so the test never depends on how fast the terminal carries bytes.
    int16_t PollPast(int16_t whileCode, float* value) {
        int16_t rc = whileCode;
        for (int i = 0; i < 2000 && rc == whileCode; ++i) {
            rc = api.pollStream(value);
            if (rc == whileCode) {
                pollfd p{-1, 0, 0};
                poll(&p, 0, 1);
            }
        }
        return rc;
    }
};

TEST_F(AsciiStream, HandsOutOneLineOldestFirst) {
    float value = -7.0f;
    EXPECT_EQ(api.pollStream(&value), -700);
    instrument.Send(ToBytes("12.5\r13.5\r"));
    EXPECT_EQ(PollPast(-700, &value), 0);
    EXPECT_EQ(value, 12.5f);
    EXPECT_EQ(api.pollStream(&value), 0);
    EXPECT_EQ(value, 13.5f);
    EXPECT_EQ(api.pollStream(&value), -700);
    EXPECT_EQ(value, 13.5f);
}

TEST_F(AsciiStream, PartialLineWaitsForItsCR) {
    float value = -7.0f;
    instrument.Send(ToBytes("12."));
    // Nothing complete: the text stays buffered, the value untouched.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(api.pollStream(&value), -700);
    EXPECT_EQ(value, -7.0f);
    instrument.Send(ToBytes("5\r"));
    EXPECT_EQ(PollPast(-700, &value), 0);
    EXPECT_EQ(value, 12.5f);
}

TEST_F(AsciiStream, FullBufferWithoutCRReportsUntilTheLineEnds) {
    float value = -7.0f;
    instrument.Send(ToBytes("1." + std::string(4094, '0')));
    EXPECT_EQ(PollPast(-700, &value), -600);
    EXPECT_EQ(api.pollStream(&value), -600);
    EXPECT_EQ(value, -7.0f);
    instrument.Send(ToBytes("5\r"));
    EXPECT_EQ(PollPast(-600, &value), 0);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(api.pollStream(&value), -700);
}

TEST_F(AsciiStream, LongBufferWithACRStillHandsOutTheLine) {
    float value = -7.0f;
    instrument.Send(ToBytes("5\r" + std::string(4200, '7')));
    EXPECT_EQ(PollPast(-700, &value), 0);
    EXPECT_EQ(value, 5.0f);
    EXPECT_EQ(PollPast(-700, &value), -600);
}

TEST_F(AsciiStream, FlowControlBytes) {
    api.sendXoff();
    api.sendXon();
    EXPECT_EQ(instrument.Received(2), (Bytes{0x13, 0x11}));
}

} // namespace
