// Colour values and the stored property keys: what a saved form holds.
#include "controls/ColourValue.h"
#include "controls/PropertyBag.h"
#include "controls/SevenSegment.h"
#include "controls/TileColours.h"

#include <gtest/gtest.h>

namespace {

using Keys = std::vector<std::string>;

Keys KeysOf(const PropertyBag& bag) {
    Keys keys;
    for (const auto& [k, v] : bag.entries())
        keys.push_back(k);
    return keys;
}

} // namespace

TEST(ColourSchemes, TableMatchesTheStoredColourValues) {
    const ColourValue stored[5][3] = {{10532502, 9546629, 0},
                                      {14731911, 14336114, 0},
                                      {0xC0C0C0, 0xB3B3B3, 0},
                                      {65557, 128, 255},
                                      {795916, 16384, 65280}};
    for (int n = 1; n <= 5; ++n) {
        const auto row = SchemeColors(n);
        ASSERT_TRUE(row) << n;
        EXPECT_EQ((std::vector<ColourValue>{row->back, row->off, row->on}),
                  (std::vector<ColourValue>(stored[n - 1], stored[n - 1] + 3)));
    }
    for (int n : {0, 6, -1})
        EXPECT_FALSE(SchemeColors(n)) << n;
}

TEST(PropertyBagStore, DefaultsAreNotStoredKeysInOrderAndTheWrongKindReadsAsTheDefault) {
    PropertyBag bag;
    bag.write("A", int64_t(5), int64_t(5));
    bag.write("B", std::string("x"), std::string("y"));
    EXPECT_EQ(KeysOf(bag), Keys{"B"});
    EXPECT_EQ(std::make_pair(bag.readNumber("A", 5), bag.readText("B", "y")),
              std::make_pair(int64_t(5), std::string("x")));
    bag.write("B", std::string("y"), std::string("y")); // back to the default
    EXPECT_FALSE(bag.contains("B"));
    bag.write("C", std::string("text"), int64_t(0));
    EXPECT_EQ(bag.readNumber("C", 7), 7);
    // Each kind stores its keys in this order, nothing at its defaults (the
    // display is created with three-dimensional light, stored against button
    // face, so its BackColor is always there), and loads them back.
    PropertyBag fresh, none, display, frame, tile;
    SaveDisplayProperties(fresh, DisplayProperties{});
    EXPECT_EQ(KeysOf(fresh), Keys{"BackColor"});
    FrameProperties frameDefaults;
    frameDefaults.BackColor = SysButtonFace;
    SaveFrameProperties(none, frameDefaults);
    SaveTileProperties(none, TileProperties{});
    EXPECT_TRUE(none.entries().empty());

    SaveDisplayProperties(display, {1, 2, 3, 151, "1.5", 6, "icon", 2, 1});
    EXPECT_EQ(KeysOf(display), (Keys{"BackColor", "OnColor", "OffColor", "Size", "Caption",
                                     "Digits", "MouseIcon", "MousePointer", "BorderStyle"}));
    const DisplayProperties d = LoadDisplayProperties(display);
    EXPECT_EQ(std::tie(d.Caption, d.Size, d.BorderStyle, d.MouseIcon),
              std::make_tuple("1.5", 151, 1, "icon"));
    SaveFrameProperties(frame, {5, 1, 2, "i", 3, 1, 4});
    EXPECT_EQ(KeysOf(frame), (Keys{"BackColor", "OnColor", "OffColor", "MouseIcon", "MousePointer",
                                   "BorderStyle", "Scheme"}));
    EXPECT_EQ(LoadFrameProperties(frame).Scheme, 4);
    SaveTileProperties(tile, {0xFF, 0, "Flow", "1.5", 6});
    EXPECT_EQ(KeysOf(tile), (Keys{"BackColor", "ForeColor", "Title", "Value", "Digits"}));
    const TileProperties t = LoadTileProperties(tile);
    EXPECT_EQ(std::tie(t.ForeColor, t.Title, t.Digits), std::make_tuple(0u, "Flow", 6));

    const DisplayProperties empty = LoadDisplayProperties(PropertyBag{});
    EXPECT_EQ(std::tie(empty.BackColor, empty.OffColor, empty.Caption, empty.Digits, empty.Size),
              std::make_tuple(SysButtonFace, 7969130u, "12345678", 8, 100));
    EXPECT_EQ(LoadFrameProperties(PropertyBag{}).BackColor, SysButtonFace);
    const TileProperties emptyTile = LoadTileProperties(PropertyBag{});
    EXPECT_EQ(std::tie(emptyTile.ForeColor, emptyTile.Value),
              std::make_tuple(0xFFFFFFu, "12345678"));
}
