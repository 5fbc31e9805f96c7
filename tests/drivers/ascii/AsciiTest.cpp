// ASCII line protocol: the line rules both ends share, and the library's
// entries on a pseudo terminal (exact lines and codes). Reply judgement,
// retries and the stream buffer are tested on a fake line
// (common/TransactionTest.cpp), request parsing in the simulator's tests.
#include "AsciiLine.h"
#include "support/DriverApi.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(AsciiLineRules, WriteValuesAndReplyNumbers) {
    struct Case {
        float value;
        const char* text;
    } writes[] = {
        {12.5f, "0000012.5000000"}, {-3.25f, "-0000003.2500000"},      {0.0f, "0000000.0000000"},
        {-0.0f, "0000000.0000000"}, {12345678.0f, "12345678.0000000"}, {0.125f, "0000000.1250000"},
        {1e-9f, "0000000.0000000"}, {-1e-9f, "0000000.0000000"},
    };
    for (const auto& c : writes)
        EXPECT_EQ(velda_ascii::FormatWriteValue(c.value), c.text) << c.value;
    EXPECT_FALSE(velda_ascii::FormatWriteValue(std::numeric_limits<float>::infinity()));
    const Case replies[] = {
        {1234.5f, "1234.5"}, {0.0f, "abc"},  {0.0f, ""},      {7.0f, " \t\n+7"},
        {-0.5f, "-.5"},      {5.0f, "5."},   {0.0f, "."},     {1000.0f, "1e3x"},
        {1.0f, "1e"},        {0.2f, "2E-1"}, {0.0f, "1e-60"}, {0.0f, "0x1A"},
        {0.0f, "inf"},       {0.0f, "nan"},  {0.0f, "- 5"},   {0.0f, "\r5"},
    };
    for (const auto& c : replies)
        EXPECT_EQ(velda_ascii::ParseReplyNumber(c.text), c.value) << c.text;
    for (const std::string& beyond :
         {std::string("1e39"), std::string("-4e38"), "1" + std::string(400, '0')})
        EXPECT_FALSE(velda_ascii::ParseReplyNumber(beyond)) << beyond;
}

struct AsciiWire : WireTest<AsciiApi> {
    AsciiWire() : WireTest("VeldaASCII2Drv") {}
};

// Reads and broadcasts are checked byte for byte end to end; here the
// write, an addressed execute, the flow control and no port.
TEST_F(AsciiWire, EntriesSendTheirLinesAndTakeTheReplies) {
    instrument.Serve(AsciiFramer, [](const Bytes&, int) { return ToBytes("\r"); });
    EXPECT_EQ(api.write(12, "W", -3.25f), VEXA_OK);
    EXPECT_EQ(api.execute(999, "TARE"), VEXA_OK);
    api.sendXoff();
    api.sendXon();
    const std::string sent = "!012:W=-0000003.2500000\r!999:TARE\r\x13\x11";
    EXPECT_EQ(ToText(instrument.Received(sent.size())), sent);
    ASSERT_EQ(api.closePort(), VEXA_OK);
    EXPECT_EQ(api.read(5, "SYS", &value), VEXA_PORT_FAILED);
    api.sendXoff();
    EXPECT_EQ(api.pollStream(&value), VEXA_NO_STREAM_DATA);
    EXPECT_EQ(value, -7.0f);
    EXPECT_EQ(ToText(instrument.Received()), sent);
}

// The library keeps its guard from call to call: station 1's reply, late
// beyond its last attempt, must not come back as station 2's reading.
TEST_F(AsciiWire, ALateReplyNeverReachesTheNextCall) {
    ASSERT_EQ(api.setTimeout(100), VEXA_OK);
    int station1Requests = 0;
    auto isStation1 = [](const Bytes& req) { return ToText(req) == "!001:SYS?\r"; };
    instrument.Serve(
        AsciiFramer,
        [&](const Bytes& req, int) {
            if (!isStation1(req)) return ToBytes("22\r");
            return ToBytes(station1Requests++ < 3 ? "?\r" : "11\r");
        },
        [&](const Bytes& req, int) { return isStation1(req) && station1Requests > 3 ? 150 : 0; });
    EXPECT_EQ(api.read(1, "SYS", &value), VEXA_NO_RESPONSE);
    EXPECT_EQ(value, -7.0f);
    EXPECT_EQ(api.read(2, "SYS", &value), VEXA_OK);
    EXPECT_EQ(value, 22.0f);
}

} // namespace
