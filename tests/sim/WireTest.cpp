// Line timing below the instruments; holding the line, the bounded backlog
// and late chunks show in the instruments' tests (InstrumentTest).
#include "Wire.h"

#include <gtest/gtest.h>

using namespace vexasim;

TEST(Wire, BytesTakeTenBitTimesEachWayAndChunksNeverOverlap) {
    const Nanos b = ByteTime(9600);
    EXPECT_EQ(b, 1'041'666);
    EXPECT_EQ(ByteTime(115200), 86'805);
    EXPECT_GT(ByteTime(0), 0); // a nonsense rate paces, it does not divide by zero
    RxLine rx(9600);
    EXPECT_EQ(rx.Arrive(0), b);
    EXPECT_EQ(rx.Arrive(0), 2 * b);                     // handed over together, in turn
    EXPECT_EQ(rx.Arrive(100'000'000), 100'000'000 + b); // after a pause, from then on
    TxLine tx(9600);
    tx.Schedule(0, {1, 2, 3});
    tx.Schedule(b, {9}); // ready while the first is still going out
    tx.Schedule(0, {7}); // same ready time as the first: after it
    EXPECT_EQ(tx.NextEvent(), b);
    EXPECT_TRUE(tx.Take(b - 1).empty());
    EXPECT_EQ(tx.Take(b), std::vector<uint8_t>{1});
    EXPECT_TRUE(tx.TakeFinished().empty());
    EXPECT_EQ(tx.Take(100'000'000), (std::vector<uint8_t>{2, 3, 7, 9}));
    const auto done = tx.TakeFinished();
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0], std::make_pair(3 * b, std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(done[1].first, 4 * b);
    EXPECT_EQ(done[2].first, 5 * b);
    EXPECT_FALSE(tx.NextEvent());
    EXPECT_TRUE(tx.Idle());
}
