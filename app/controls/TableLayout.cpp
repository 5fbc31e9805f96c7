#include "controls/TableLayout.h"

#include <cstddef>

TableArrangement ArrangeTable(const std::vector<TableItem>& items, int innerWidth) {
    TableArrangement out;
    out.places.resize(items.size());
    int x = 0, y = 0, rowBottom = 0, right = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TableItem& item = items[i];
        if (item.index <= 0) continue;
        if (x != 0 && x + item.width > innerWidth) {
            x = 0;
            y = rowBottom; // below the lowest tile so far, not only the last row
        } else if (x + item.width > right) {
            right = x + item.width;
        }
        out.places[i] = {true, x, y};
        x += item.width;
        if (y + item.height > rowBottom) rowBottom = y + item.height;
    }
    out.height = rowBottom + TableBottomBand;
    out.width = right == 0 ? TableEmptyWidth : right;
    return out;
}

TableArrangement SettleTable(const std::vector<TableItem>& items, int innerWidth) {
    TableArrangement out = ArrangeTable(items, innerWidth);
    // Taking the new width runs the layout again. Only a first tile wider
    // than the container can widen it, and then a run or two settle it; the
    // count bounds any case that would not.
    for (std::size_t run = 0; run <= items.size() && out.width != innerWidth; ++run) {
        innerWidth = out.width;
        out = ArrangeTable(items, innerWidth);
    }
    return out;
}
