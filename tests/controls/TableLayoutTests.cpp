#include "controls/TableLayout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<TableItem> Tiles(int count) {
    return std::vector<TableItem>(size_t(count), {1, 4035, 1365});
}

// Each item's place as "x,y", "-" for one left alone; then the container's
// size, with its 920-twip band below the lowest tile.
std::string Layout(const TableArrangement& a) {
    std::string text;
    for (const TablePlace& p : a.places)
        text += p.placed ? std::to_string(p.x) + "," + std::to_string(p.y) + " " : "- ";
    return text + std::to_string(a.width) + "x" + std::to_string(a.height);
}

} // namespace

TEST(TableLayout, TilesFillRowsLeftToRight) {
    const std::vector<TableItem> mixed = {{1, 100, 50},  {0, 5000, 5000}, {-1, 5000, 5000},
                                          {2, 100, 200}, {3, 100, 50},    {4, 100, 30}};
    const std::vector<TableItem> wideFirst = {{1, 300, 10}, {2, 100, 10}, {3, 100, 10}};
    EXPECT_EQ(Layout(ArrangeTable({}, 12500)), "2000x920");
    EXPECT_EQ(Layout(SettleTable({{0, 4035, 1365}}, 12500)), "- 2000x920");
    // Settling takes the rows' width and runs the layout again.
    EXPECT_EQ(Layout(SettleTable(Tiles(6), 12500)),
              "0,0 4035,0 8070,0 0,1365 4035,1365 8070,1365 12105x3650");
    EXPECT_EQ(Layout(ArrangeTable(Tiles(4), 3 * 4035)), "0,0 4035,0 8070,0 0,1365 12105x3650");
    // Narrower than one tile: only the first tile counts toward the width.
    EXPECT_EQ(Layout(SettleTable(Tiles(3), 3000)), "0,0 0,1365 0,2730 4035x5015");
    // Index 0 and below take no room; a new row starts below the lowest tile.
    EXPECT_EQ(Layout(ArrangeTable(mixed, 250)), "0,0 - - 100,0 0,200 100,200 200x1170");
    // A wide first tile widens the container, which lets the third tile join
    // the second.
    EXPECT_EQ(Layout(ArrangeTable(wideFirst, 100)), "0,0 0,10 0,20 300x950");
    EXPECT_EQ(Layout(SettleTable(wideFirst, 100)), "0,0 0,10 100,10 300x940");
}
