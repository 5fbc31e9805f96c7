// VeldaBus: the frame rules both ends share, and the library's entries on
// a pseudo terminal (exact bytes and codes). Reply judgement and retries
// are the transaction's (common/TransactionTest.cpp).
#include "BusFrame.h"
#include "DriverApi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(BusFrameRules, ValuesEncodeDecodeAndChecksum) {
    const auto one = veldabus::EncodeValue(1.0f);
    EXPECT_EQ(Bytes(one.begin(), one.end()),
              (Bytes{0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80}));
    // -3.25 is 0xC0500000; the end mark is dropped only from the last byte.
    const auto minus = veldabus::EncodeValue(-3.25f);
    EXPECT_EQ(Bytes(minus.begin(), minus.end()),
              (Bytes{0x0C, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x80}));
    for (float v : {0.0f, -3.25f, 123456.789f, 1e-30f, -3.4e38f})
        EXPECT_EQ(veldabus::DecodeValue(veldabus::EncodeValue(v)), v) << v;
    const auto nan = veldabus::EncodeValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(veldabus::DecodeValue(nan)));
    const Bytes covered = {0xFE, 0x01, 0x83};
    EXPECT_EQ(veldabus::FrameChecksum(covered), (veldabus::Checksum{0x07, 0x0C}));
    // Command 128..253 keeps bit 7 in a write frame too.
    EXPECT_EQ(*veldabus::BuildRequest(veldabus::RequestKind::Write, 1, 130, 1.0f),
              (Bytes{0xFE, 0x01, 0x82, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x0F, 0x09}));
}

TEST(BusFrameRules, RequestsAreParsedBackOnTheInstrumentSide) {
    const auto read = *veldabus::BuildRequest(veldabus::RequestKind::Read, 254, 10);
    auto r = veldabus::ParseRequest(read);
    ASSERT_EQ(r.status, veldabus::ParseStatus::Complete);
    EXPECT_EQ(r.consumed, 5u);
    EXPECT_EQ(r.request.station, 254);
    EXPECT_EQ(r.request.command, 10);
    EXPECT_FALSE(r.request.hasValue);

    const auto write = *veldabus::BuildRequest(veldabus::RequestKind::Write, 2, 5, -3.25f);
    r = veldabus::ParseRequest(write);
    ASSERT_EQ(r.status, veldabus::ParseStatus::Complete);
    EXPECT_EQ(r.consumed, 13u);
    EXPECT_TRUE(r.request.hasValue);
    EXPECT_EQ(r.request.value, -3.25f);

    EXPECT_EQ(veldabus::ParseRequest(std::span(write).first(7)).status,
              veldabus::ParseStatus::NeedMore);
    Bytes bad = read;
    bad[4] ^= 1;
    EXPECT_EQ(veldabus::ParseRequest(bad).status, veldabus::ParseStatus::Invalid);
    EXPECT_EQ(veldabus::ParseRequest(Bytes{0x01, 0xFE}).status, veldabus::ParseStatus::Invalid);
}

class BusWire : public ::testing::Test, protected PortsFixtureBase {
  protected:
    void SetUp() override {
        instrument.LinkAs(ports.Path(), "COM3");
        ASSERT_EQ(api.openPort(kPort, kBaud), VEXA_OK);
        ASSERT_EQ(api.setTimeout(kShortTimeout), VEXA_OK);
    }
    PtyInstrument instrument;
    DriverLibrary lib{"Veldabus2Drv"};
    BusApi api{lib};
};

TEST_F(BusWire, EntriesSendTheirFramesAndTakeTheReplies) {
    instrument.Serve(BusFramer, [](const Bytes& req, int) {
        if (req[2] & 0x80 && req[2] != 0xE7) // a read
            return Bytes{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
        return Bytes{req[1], req[1] == 2 ? uint8_t{0x06} : uint8_t{0x15}};
    });
    float value = -7.0f;
    EXPECT_EQ(api.read(1, 3, &value), VEXA_OK);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(api.write(2, 5, 1.0f), VEXA_OK);
    EXPECT_EQ(api.execute(7, 103), VEXA_NAK);
    EXPECT_EQ(api.read(256, 3, &value), VEXA_INVALID_ARGUMENT);
    EXPECT_EQ(api.execute(0, 103), VEXA_OK);
    Bytes expected = {0xFE, 0x01, 0x83, 0x07, 0x0C,                                      // read
                      0xFE, 0x02, 0x05, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x07, 0x0D}; // write
    for (int i = 0; i < 4; ++i) // execute, refused each time
        expected.insert(expected.end(), {0xFE, 0x07, 0xE7, 0x01, 0x0E});
    expected.insert(expected.end(), {0xFE, 0x00, 0xE7, 0x01, 0x09}); // broadcast
    EXPECT_EQ(instrument.Received(expected.size()), expected);
}

TEST_F(BusWire, NoPortOpenFailsAtOnceWithoutSending) {
    ASSERT_EQ(api.closePort(), VEXA_OK);
    ASSERT_EQ(api.setTimeout(5000), VEXA_OK);
    float value = -7.0f;
    EXPECT_EQ(api.read(1, 3, &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(api.write(2, 5, 1.0f), VEXA_NO_RESPONSE);
    EXPECT_EQ(value, -7.0f);
    EXPECT_TRUE(instrument.Received().empty());
}

} // namespace
