// Tiles in rows, left to right and top to bottom, wrapping at the inner
// width; the container then covers the tiles plus a band below them.
#pragma once

#include <vector>

constexpr int TableBottomBand = 920;  // twips below the lowest tile
constexpr int TableEmptyWidth = 2000; // twips when no tile counts

struct TableItem {
    int index = 0; // items whose index is not above 0 are left alone
    int width = 0, height = 0;
};
struct TablePlace {
    bool placed = false;
    int x = 0, y = 0;
};
struct TableArrangement {
    std::vector<TablePlace> places; // one per item, same order
    int width = 0, height = 0;      // the container's new size
};

// One layout run against the given inner width (twips).
TableArrangement ArrangeTable(const std::vector<TableItem>& items, int innerWidth);
// The runs that resizing the container to its result sets off, until its
// width no longer changes them.
TableArrangement SettleTable(const std::vector<TableItem>& items, int innerWidth);
