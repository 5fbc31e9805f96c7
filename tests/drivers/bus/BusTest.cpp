// VeldaBus: the library's entries on a pseudo terminal (exact bytes and
// codes). The frame and reply rules are the transaction's
// (common/TransactionTest.cpp), request parsing the simulator's (tests/sim).
#include "BusFrame.h"
#include "support/DriverApi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct BusWire : WireTest<BusApi> {
    BusWire() : WireTest("Veldabus2Drv") {}
};

// The request table and the retries are the transaction's: here one call
// of each entry, a broadcast, and no port.
TEST_F(BusWire, EntriesSendTheirFramesAndTakeTheReplies) {
    instrument.Serve(BusFramer, [](const Bytes& req, int) {
        if (req[2] & 0x80 && req[2] != 0xE7) // a read
            return Bytes{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
        return Bytes{req[1], 0x06};
    });
    EXPECT_EQ(lib.Entry<VexaVersionFn>("VERSION")(), 1.5f);
    EXPECT_EQ(api.read(1, 3, &value), VEXA_OK);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(api.write(2, 5, 1.0f), VEXA_OK);
    EXPECT_EQ(api.execute(7, 103), VEXA_OK);
    EXPECT_EQ(api.execute(0, 103), VEXA_OK);              // settles on the real clock
    const Bytes expected = {0xFE, 0x01, 0x83, 0x07, 0x0C, // read
                            0xFE, 0x02, 0x05, 0x03, 0x0F, 0x08, 0, 0, 0, 0, 0x80, 0x07, // write
                            0x0D, 0xFE, 0x07, 0xE7, 0x01, 0x0E,                         // execute
                            0xFE, 0x00, 0xE7, 0x01, 0x09};                              // broadcast
    EXPECT_EQ(instrument.Received(expected.size()), expected);
    ASSERT_EQ(api.closePort(), VEXA_OK);
    EXPECT_EQ(api.write(2, 5, 1.0f), VEXA_NO_RESPONSE);
    EXPECT_EQ(instrument.Received(), expected);
    // A NaN crosses the frame as a NaN.
    const auto nan = veldabus::EncodeValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(veldabus::DecodeValue(nan)));
}

} // namespace
