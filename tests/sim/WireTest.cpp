#include "Wire.h"

#include <gtest/gtest.h>

using namespace vexasim;

namespace {
constexpr Nanos kMs = 1'000'000;
const std::vector<uint8_t> kThree{1, 2, 3};
} // namespace

TEST(Wire, ByteTimeIsTenBitTimes) {
    EXPECT_EQ(ByteTime(9600), 1'041'666);
    EXPECT_EQ(ByteTime(115200), 86'805);
    EXPECT_GT(ByteTime(0), 0); // a nonsense rate paces, it does not divide by zero
}

TEST(Wire, ReceivedBytesArriveOnePerByteTime) {
    RxLine rx(9600);
    const Nanos b = ByteTime(9600);
    EXPECT_EQ(rx.Arrive(0), b);
    EXPECT_EQ(rx.Arrive(0), 2 * b);                 // handed over together, delivered in turn
    EXPECT_EQ(rx.Arrive(100 * kMs), 100 * kMs + b); // after a pause, from then on
}

TEST(Wire, AChunkGoesOutByteByByteFromItsReadyTime) {
    TxLine tx(9600);
    const Nanos b = ByteTime(9600);
    tx.Schedule(10 * kMs, kThree);
    EXPECT_EQ(tx.NextEvent(), 10 * kMs + b);
    EXPECT_TRUE(tx.Take(10 * kMs + b - 1).empty());
    EXPECT_EQ(tx.Take(10 * kMs + b), std::vector<uint8_t>{1});
    EXPECT_EQ(tx.NextEvent(), 10 * kMs + 2 * b);
    EXPECT_TRUE(tx.TakeFinished().empty());
    EXPECT_EQ(tx.Take(10 * kMs + 3 * b), (std::vector<uint8_t>{2, 3}));
    const auto done = tx.TakeFinished();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].first, 10 * kMs + 3 * b);
    EXPECT_EQ(done[0].second, kThree);
    EXPECT_FALSE(tx.NextEvent());
    EXPECT_TRUE(tx.Idle());
}

TEST(Wire, ChunksNeverOverlapOnTheLine) {
    TxLine tx(9600);
    const Nanos b = ByteTime(9600);
    tx.Schedule(0, kThree);
    tx.Schedule(b, {9}); // ready while the first is still going out
    tx.Schedule(0, {7}); // same ready time as the first: after it
    const auto out = tx.Take(100 * kMs);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 7, 9}));
    const auto done = tx.TakeFinished();
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0].first, 3 * b);
    EXPECT_EQ(done[1].first, 4 * b);
    EXPECT_EQ(done[2].first, 5 * b);
}

TEST(Wire, LateChunkWaitsForItsTimeEvenWhenTheLineIsFree) {
    TxLine tx(115200);
    tx.Schedule(50 * kMs, {5});
    EXPECT_TRUE(tx.Take(49 * kMs).empty());
    EXPECT_EQ(tx.NextEvent(), 50 * kMs + ByteTime(115200));
    EXPECT_EQ(tx.Take(51 * kMs).size(), 1u);
}

TEST(Wire, HoldStopsTheLineAndReleaseGoesOn) {
    TxLine tx(9600);
    const Nanos b = ByteTime(9600);
    tx.Schedule(0, kThree);
    EXPECT_EQ(tx.Take(b), std::vector<uint8_t>{1});
    tx.Hold(true, b);
    EXPECT_TRUE(tx.Held());
    EXPECT_FALSE(tx.NextEvent());
    EXPECT_TRUE(tx.Take(50 * kMs).empty());
    tx.Hold(false, 50 * kMs);
    EXPECT_EQ(tx.NextEvent(), 50 * kMs + b);
    EXPECT_EQ(tx.Take(50 * kMs + 2 * b), (std::vector<uint8_t>{2, 3}));
}

TEST(Wire, BacklogIsBoundedAndFreesAsBytesGoOut) {
    TxLine tx(115200);
    EXPECT_FALSE(tx.Schedule(0, std::vector<uint8_t>(TxLine::kMaxBacklog + 1, 0x55)));
    EXPECT_TRUE(tx.Idle()); // refused whole, nothing kept
    EXPECT_TRUE(tx.Schedule(0, std::vector<uint8_t>(TxLine::kMaxBacklog - 1, 0x55)));
    EXPECT_TRUE(tx.Schedule(0, {1}));
    EXPECT_FALSE(tx.Schedule(0, {2}));
    EXPECT_EQ(tx.Take(3 * ByteTime(115200)).size(), 3u);
    EXPECT_TRUE(tx.Schedule(0, {3, 4, 5}));
    EXPECT_FALSE(tx.Schedule(0, {6}));
}
