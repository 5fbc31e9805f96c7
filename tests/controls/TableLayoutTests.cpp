#include "TableLayout.h"

#include <gtest/gtest.h>

namespace {

std::vector<TableItem> Tiles(int count, int w = 4035, int h = 1365) {
    std::vector<TableItem> items;
    for (int i = 1; i <= count; ++i)
        items.push_back({i, w, h});
    return items;
}

void ExpectAt(const TablePlace& p, int x, int y) {
    EXPECT_TRUE(p.placed);
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
}

} // namespace

TEST(TableLayout, EmptyOrTemplateOnlyTakesTheDefaultSize) {
    const TableArrangement empty = ArrangeTable({}, 12500);
    EXPECT_EQ(empty.width, 2000);
    EXPECT_EQ(empty.height, 920);
    const TableArrangement onlyTemplate = SettleTable({{0, 4035, 1365}}, 12500);
    EXPECT_EQ(onlyTemplate.width, 2000);
    EXPECT_EQ(onlyTemplate.height, 920);
    EXPECT_FALSE(onlyTemplate.places[0].placed);
}

TEST(TableLayout, SixTilesFormRowsOfThree) {
    const TableArrangement a = SettleTable(Tiles(6), 12500);
    ExpectAt(a.places[0], 0, 0);
    ExpectAt(a.places[1], 4035, 0);
    ExpectAt(a.places[2], 8070, 0);
    ExpectAt(a.places[3], 0, 1365);
    ExpectAt(a.places[5], 8070, 1365);
    EXPECT_EQ(a.width, 12105);
    EXPECT_EQ(a.height, 3650);
    // Taking that width runs the layout again and changes nothing.
    const TableArrangement again = ArrangeTable(Tiles(6), a.width);
    EXPECT_EQ(again.width, a.width);
    ExpectAt(again.places[3], 0, 1365);
}

TEST(TableLayout, ATileThatExactlyFillsTheRowStaysInIt) {
    const TableArrangement a = ArrangeTable(Tiles(4), 3 * 4035);
    ExpectAt(a.places[2], 8070, 0);
    ExpectAt(a.places[3], 0, 1365);
}

TEST(TableLayout, NarrowerThanOneTileGivesOneTilePerRow) {
    const TableArrangement a = SettleTable(Tiles(3), 3000);
    ExpectAt(a.places[0], 0, 0);
    ExpectAt(a.places[1], 0, 1365);
    ExpectAt(a.places[2], 0, 2730);
    EXPECT_EQ(a.width, 4035); // only the first tile counts toward the width
    EXPECT_EQ(a.height, 3 * 1365 + 920);
}

TEST(TableLayout, IndexZeroAndBelowAreLeftAlone) {
    std::vector<TableItem> items = {{1, 100, 50}, {0, 5000, 5000}, {-1, 5000, 5000}, {2, 100, 50}};
    const TableArrangement a = ArrangeTable(items, 1000);
    EXPECT_FALSE(a.places[1].placed);
    EXPECT_FALSE(a.places[2].placed);
    ExpectAt(a.places[3], 100, 0); // the template took no room
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 970);
}

TEST(TableLayout, ANewRowStartsBelowTheLowestTileSoFar) {
    const std::vector<TableItem> items = {{1, 100, 50}, {2, 100, 200}, {3, 100, 50}, {4, 100, 30}};
    const TableArrangement a = ArrangeTable(items, 250);
    ExpectAt(a.places[2], 0, 200);
    ExpectAt(a.places[3], 100, 200);
    EXPECT_EQ(a.height, 250 + 920);
}

TEST(TableLayout, AWideFirstTileWidensTheContainerAndTheRunsSettle) {
    const std::vector<TableItem> items = {{1, 300, 10}, {2, 100, 10}, {3, 100, 10}};
    const TableArrangement first = ArrangeTable(items, 100);
    ExpectAt(first.places[2], 0, 20);
    EXPECT_EQ(first.width, 300);
    // The container takes 300, which lets the third tile join the second.
    const TableArrangement settled = SettleTable(items, 100);
    ExpectAt(settled.places[1], 0, 10);
    ExpectAt(settled.places[2], 100, 10);
    EXPECT_EQ(settled.width, 300);
    EXPECT_EQ(settled.height, 940);
}
