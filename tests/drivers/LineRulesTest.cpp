// Frame and line rules shared with the instrument side.
#include "AsciiLine.h"
#include "BusFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BusFrameRules, EncodeDecodeAndChecksum) {
    const auto one = veldabus::EncodeValue(1.0f);
    EXPECT_EQ(Bytes(one.begin(), one.end()),
              (Bytes{0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80}));
    // The end mark is dropped only from the last byte.
    const uint8_t marked[8] = {0x0C, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(veldabus::DecodeValue(std::span<const uint8_t, 8>(marked)), -3.25f);
    const Bytes covered = {0xFE, 0x01, 0x83};
    const auto sum = veldabus::FrameChecksum(covered);
    EXPECT_EQ(sum[0], 0x07);
    EXPECT_EQ(sum[1], 0x0C);
    const auto nan = veldabus::EncodeValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(veldabus::DecodeValue(nan)));
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

TEST(AsciiLineRules, WriteValuePattern) {
    struct Case {
        float value;
        const char* text;
    } cases[] = {
        {12.5f, "0000012.5000000"}, {-3.25f, "-0000003.2500000"},      {0.0f, "0000000.0000000"},
        {-0.0f, "0000000.0000000"}, {12345678.0f, "12345678.0000000"}, {0.125f, "0000000.1250000"},
        {1e-9f, "0000000.0000000"}, {-1e-9f, "0000000.0000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(velda_ascii::FormatWriteValue(c.value), c.text) << c.value;
    EXPECT_FALSE(velda_ascii::FormatWriteValue(std::numeric_limits<float>::infinity()));
}

TEST(AsciiLineRules, ReplyNumberConversion) {
    struct Case {
        const char* text;
        float value;
    } cases[] = {
        {"1234.5", 1234.5f}, {"abc", 0.0f},  {"", 0.0f},      {" \t\n+7", 7.0f},
        {"-.5", -0.5f},      {"5.", 5.0f},   {".", 0.0f},     {"1e3x", 1000.0f},
        {"1e", 1.0f},        {"2E-1", 0.2f}, {"1e-60", 0.0f}, {"0x1A", 0.0f},
        {"inf", 0.0f},       {"nan", 0.0f},  {"- 5", 0.0f},   {"\r5", 0.0f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(velda_ascii::ParseReplyNumber(c.text), c.value) << c.text;
    EXPECT_FALSE(velda_ascii::ParseReplyNumber("1e39"));
    EXPECT_FALSE(velda_ascii::ParseReplyNumber("-4e38"));
    EXPECT_FALSE(velda_ascii::ParseReplyNumber("1" + std::string(400, '0')));
}

TEST(AsciiLineRules, RequestLinesBothWays) {
    EXPECT_EQ(velda_ascii::BuildRequestLine(velda_ascii::RequestKind::Read, 1, "SYS"),
              "!001:SYS?\r");
    EXPECT_EQ(velda_ascii::BuildRequestLine(velda_ascii::RequestKind::Write, 7, "X", 12.5f),
              "!007:X=0000012.5000000\r");
    EXPECT_EQ(velda_ascii::BuildRequestLine(velda_ascii::RequestKind::Execute, 0, "SNAP"),
              "!000:SNAP\r");
    EXPECT_FALSE(velda_ascii::BuildRequestLine(velda_ascii::RequestKind::Read, 1000, "SYS"));
    EXPECT_FALSE(velda_ascii::BuildRequestLine(velda_ascii::RequestKind::Read, -1, "SYS"));

    const auto w = velda_ascii::ParseRequestLine("!012:W=-0000003.2500000");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->station, 12);
    EXPECT_EQ(w->kind, velda_ascii::RequestKind::Write);
    EXPECT_EQ(w->command, "W");
    EXPECT_EQ(w->valueText, "-0000003.2500000");
    const auto r = velda_ascii::ParseRequestLine("!005:SYSN?");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, velda_ascii::RequestKind::Read);
    EXPECT_EQ(r->command, "SYSN");
    EXPECT_FALSE(velda_ascii::ParseRequestLine("!05:SYS?"));
    EXPECT_FALSE(velda_ascii::ParseRequestLine("005:SYS?"));
}

} // namespace
