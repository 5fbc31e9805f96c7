// The bus driver on the wire: exact request bytes and result codes.
#include "DriverApi.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const Bytes kReadSt1Cmd3 = {0xFE, 0x01, 0x83, 0x07, 0x0C};
const Bytes kReplyOne = {0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
const Bytes kWriteSt2Cmd5One = {0xFE, 0x02, 0x05, 0x03, 0x0F, 0x08, 0x00,
                                0x00, 0x00, 0x00, 0x80, 0x07, 0x0D};

Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

class BusWire : public ::testing::Test, protected PortsFixtureBase {
  protected:
    void SetUp() override {
        instrument.LinkAs(ports.Path(), "COM3");
        ASSERT_EQ(api.openPort(kPort, kBaud), 0);
        ASSERT_EQ(api.setTimeout(kShortTimeout), 0);
    }
    void Answer(Bytes reply) {
        instrument.Serve(BusFramer, [reply](const Bytes&, int) { return reply; });
    }

    PtyInstrument instrument;
    DriverLibrary lib{"Veldabus2Drv"};
    BusApi api{lib};
};

TEST_F(BusWire, ReadSendsFrameAndDecodesReply) {
    Answer(kReplyOne);
    float value = -7.0f;
    EXPECT_EQ(api.read(1, 3, &value), 0);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(instrument.Received(5), kReadSt1Cmd3);
}

TEST_F(BusWire, ReplyFaultsAreRetriedFourTimesAndReportTheLastCode) {
    struct Case {
        const char* name;
        Bytes reply;
        int16_t code;
    } cases[] = {
        {"bad checksum", {0x01, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x08, 0x06}, -300},
        {"another station", {0x02, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x08, 0x06}, -200},
        {"NAK", {0x01, 0x15}, -400},
        {"one byte", {0x01}, -500},
        {"too long", {0x01, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x08, 0x05, 0x00}, -500},
        // A read answered without a value must not pass as a reading.
        {"ACK to a read", {0x01, 0x06}, -500},
        {"cut-off data reply", {0x01, 0x03, 0x0F, 0x08, 0x00}, -500},
        {"silent", {}, -100},
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.reply);
        float value = -7.0f;
        EXPECT_EQ(api.read(1, 3, &value), c.code);
        EXPECT_EQ(value, -7.0f);
        sent += 4 * kReadSt1Cmd3.size();
        const Bytes all = instrument.Received(sent);
        EXPECT_EQ(Bytes(all.end() - 20, all.end()), Repeat(kReadSt1Cmd3, 4));
        EXPECT_EQ(all.size(), sent);
    }
}

TEST_F(BusWire, WriteSendsEncodedValueAndHonoursAckAndNak) {
    Answer({0x02, 0x06});
    EXPECT_EQ(api.write(2, 5, 1.0f), 0);
    EXPECT_EQ(instrument.Received(13), kWriteSt2Cmd5One);

    Answer({0x02, 0x15});
    EXPECT_EQ(api.write(2, 5, 1.0f), -400);
    EXPECT_EQ(instrument.Received(5 * 13), Repeat(kWriteSt2Cmd5One, 5));
}

TEST_F(BusWire, ExecuteWaitsForAckAndRejectsOtherShortReplies) {
    Answer({0x07, 0x06});
    EXPECT_EQ(api.execute(7, 103), 0);
    // 0xFE ^ 0x07 ^ (103 | 0x80) = 0x1E
    EXPECT_EQ(instrument.Received(5), (Bytes{0xFE, 0x07, 0xE7, 0x01, 0x0E}));

    Answer({0x07, 0x41});
    EXPECT_EQ(api.execute(7, 103), -500);
    EXPECT_EQ(instrument.Received(25).size(), 25u);
}

TEST_F(BusWire, HighCommandNumbersKeepBitSevenInBothFrameKinds) {
    // Such a write frame looks like a short frame to a reader going by bit 7,
    // so this instrument simply takes thirteen bytes.
    instrument.Serve([](const Bytes& p) { return p.size() >= 13 ? size_t{13} : size_t{0}; },
                     [](const Bytes&, int) {
                         return Bytes{0x01, 0x06};
                     });
    EXPECT_EQ(api.write(1, 130, 1.0f), 0);
    EXPECT_EQ(instrument.Received(13),
              (Bytes{0xFE, 0x01, 0x82, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x0F, 0x09}));
}

TEST_F(BusWire, OutOfRangeArgumentsSendNothing) {
    float value = -7.0f;
    EXPECT_EQ(api.read(256, 3, &value), -1);
    EXPECT_EQ(api.read(-2, 3, &value), -1);
    EXPECT_EQ(api.read(1, 0, &value), -1);
    EXPECT_EQ(api.read(1, 254, &value), -1);
    EXPECT_EQ(api.write(300, 5, 1.0f), -1);
    EXPECT_EQ(api.execute(1, -5), -1);
    EXPECT_EQ(value, -7.0f);
    // The first bytes on the line are those of the next valid request.
    Answer(kReplyOne);
    EXPECT_EQ(api.read(1, 3, &value), 0);
    EXPECT_EQ(instrument.Received(5), kReadSt1Cmd3);
}

TEST_F(BusWire, BroadcastsAwaitNoReplyAndDropWhatComesBack) {
    // A station that answers a broadcast anyway: its bytes must not reach
    // the next transaction.
    instrument.Serve(BusFramer, [](const Bytes& req, int) {
        return req[1] == 0 ? Bytes{0x00, 0x06, 0x00} : kReplyOne;
    });
    EXPECT_EQ(api.execute(0, 103), 0);
    EXPECT_EQ(api.execute(-1, 103), 0);
    const Bytes snap = {0xFE, 0x00, 0xE7, 0x01, 0x09};
    EXPECT_EQ(instrument.Received(10), Repeat(snap, 2));
    float value = 0.0f;
    EXPECT_EQ(api.read(1, 3, &value), 0);
    EXPECT_EQ(value, 1.0f);
}

TEST_F(BusWire, NoPortOpenFailsAtOnceWithoutSending) {
    ASSERT_EQ(api.closePort(), 0);
    ASSERT_EQ(api.setTimeout(5000), 0);
    float value = -7.0f;
    EXPECT_EQ(api.read(1, 3, &value), -100);
    EXPECT_EQ(api.write(2, 5, 1.0f), -100);
    EXPECT_EQ(value, -7.0f);
    EXPECT_TRUE(instrument.Received().empty());
}

TEST_F(BusWire, ValuesSurviveTheWireBothWays) {
    // The instrument keeps the value bytes of a write and returns them as
    // the reading of the next read, as a set-point register would.
    auto stored = std::make_shared<Bytes>();
    instrument.Serve(BusFramer, [stored](const Bytes& req, int) {
        if (req.size() == 13) {
            stored->assign(req.begin() + 3, req.begin() + 11);
            return Bytes{req[1], 0x06};
        }
        Bytes reply{req[1]};
        reply.insert(reply.end(), stored->begin(), stored->end());
        uint8_t x = 0;
        for (uint8_t b : reply)
            x ^= b;
        reply.push_back(x >> 4);
        reply.push_back(x & 15);
        return reply;
    });
    for (float v : {0.0f, -3.25f, 123456.789f, 1e-30f, -3.4e38f}) {
        SCOPED_TRACE(v);
        ASSERT_EQ(api.write(9, 5, v), 0);
        float back = 0.5f;
        ASSERT_EQ(api.read(9, 5, &back), 0);
        EXPECT_EQ(back, v);
    }
    // -3.25 is 0xC0500000: nibbles 0C 00 05 00 00 00 00 00, end mark on the last.
    const Bytes all = instrument.Received(2 * (13 + 5));
    EXPECT_EQ(Bytes(all.begin() + 18 + 3, all.begin() + 18 + 11),
              (Bytes{0x0C, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x80}));
}

} // namespace
