#include "ColourValue.h"
#include "PropertyBag.h"
#include "SevenSegment.h"
#include "TileColours.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Keys(const PropertyBag& bag) {
    std::vector<std::string> keys;
    for (const auto& [k, v] : bag.entries())
        keys.push_back(k);
    return keys;
}

} // namespace

TEST(ColourValues, BytesAndSystemColours) {
    EXPECT_EQ(RgbColour(106, 153, 121), 7969130u);
    EXPECT_EQ(RedOf(7969130), 106);
    EXPECT_EQ(GreenOf(7969130), 153);
    EXPECT_EQ(BlueOf(7969130), 121);
    EXPECT_FALSE(IsSystemColour(0xFFFFFF));
    EXPECT_TRUE(IsSystemColour(Sys3DLight));
    EXPECT_EQ(SystemColourIndex(0x80000016), 22);
    EXPECT_EQ(SystemColourIndex(SysButtonFace), 15);
    EXPECT_EQ(TwipsToPixels(3795), 253);
    EXPECT_EQ(TwipsToPixels(684), 46);
    EXPECT_EQ(TwipsToPixels(22.5), 2); // 1.5 -> 2
    EXPECT_EQ(TwipsToPixels(37.5), 2); // 2.5 -> 2
}

TEST(ColourSchemes, TableMatchesTheStoredColourValues) {
    const ColourValue stored[5][3] = {{10532502, 9546629, 0},
                                      {14731911, 14336114, 0},
                                      {0xC0C0C0, 0xB3B3B3, 0},
                                      {65557, 128, 255},
                                      {795916, 16384, 65280}};
    for (int n = 1; n <= 5; ++n) {
        const auto row = SchemeColors(n);
        ASSERT_TRUE(row) << n;
        EXPECT_EQ(row->back, stored[n - 1][0]) << n;
        EXPECT_EQ(row->off, stored[n - 1][1]) << n;
        EXPECT_EQ(row->on, stored[n - 1][2]) << n;
    }
    EXPECT_FALSE(SchemeColors(0));
    EXPECT_FALSE(SchemeColors(6));
    EXPECT_FALSE(SchemeColors(-1));
}

TEST(PropertyBagStore, DefaultsAreNotStoredAndReadBack) {
    PropertyBag bag;
    bag.write("A", int64_t(5), int64_t(5));
    bag.write("B", std::string("x"), std::string("y"));
    EXPECT_FALSE(bag.contains("A"));
    EXPECT_EQ(bag.readNumber("A", 5), 5);
    EXPECT_EQ(bag.readText("B", "y"), "x");
    bag.write("B", std::string("y"), std::string("y")); // back to the default
    EXPECT_FALSE(bag.contains("B"));
    bag.write("C", std::string("text"), int64_t(0));
    EXPECT_EQ(bag.readNumber("C", 7), 7); // the wrong kind reads as the default
}

TEST(PropertyBagStore, DisplayKeysInOrderWithTheirDefaults) {
    PropertyBag fresh;
    SaveDisplayProperties(fresh, DisplayProperties{});
    // Created with three-dimensional light, stored against button face.
    EXPECT_EQ(Keys(fresh), std::vector<std::string>{"BackColor"});

    DisplayProperties p;
    p.BackColor = 1;
    p.OnColor = 2;
    p.OffColor = 3;
    p.Size = 151;
    p.Caption = "1.5";
    p.Digits = 6;
    p.MouseIcon = "icon";
    p.MousePointer = 2;
    p.BorderStyle = 1;
    PropertyBag bag;
    SaveDisplayProperties(bag, p);
    EXPECT_EQ(Keys(bag),
              (std::vector<std::string>{"BackColor", "OnColor", "OffColor", "Size", "Caption",
                                        "Digits", "MouseIcon", "MousePointer", "BorderStyle"}));
    const DisplayProperties back = LoadDisplayProperties(bag);
    EXPECT_EQ(back.Caption, "1.5");
    EXPECT_EQ(back.Size, 151);
    EXPECT_EQ(back.BorderStyle, 1);
    EXPECT_EQ(back.MouseIcon, "icon");

    const DisplayProperties empty = LoadDisplayProperties(PropertyBag{});
    EXPECT_EQ(empty.BackColor, SysButtonFace);
    EXPECT_EQ(empty.OffColor, 7969130u);
    EXPECT_EQ(empty.Caption, "12345678");
    EXPECT_EQ(empty.Digits, 8);
    EXPECT_EQ(empty.Size, 100);
}

TEST(PropertyBagStore, FrameAndTileKeysInOrderWithTheirDefaults) {
    PropertyBag frame;
    FrameProperties f;
    f.BackColor = SysButtonFace;
    SaveFrameProperties(frame, f);
    EXPECT_TRUE(Keys(frame).empty());
    f.OnColor = 1;
    f.OffColor = 2;
    f.MouseIcon = "i";
    f.MousePointer = 3;
    f.BorderStyle = 1;
    f.Scheme = 4;
    f.BackColor = 5;
    SaveFrameProperties(frame, f);
    EXPECT_EQ(Keys(frame),
              (std::vector<std::string>{"BackColor", "OnColor", "OffColor", "MouseIcon",
                                        "MousePointer", "BorderStyle", "Scheme"}));
    EXPECT_EQ(LoadFrameProperties(frame).Scheme, 4);
    EXPECT_EQ(LoadFrameProperties(PropertyBag{}).BackColor, SysButtonFace);

    PropertyBag tile;
    SaveTileProperties(tile, TileProperties{});
    EXPECT_TRUE(Keys(tile).empty());
    TileProperties t{0xFF, 0, "Flow", "1.5", 6};
    SaveTileProperties(tile, t);
    EXPECT_EQ(Keys(tile),
              (std::vector<std::string>{"BackColor", "ForeColor", "Title", "Value", "Digits"}));
    const TileProperties back = LoadTileProperties(tile);
    EXPECT_EQ(back.ForeColor, 0u);
    EXPECT_EQ(back.Title, "Flow");
    EXPECT_EQ(back.Digits, 6);
    EXPECT_EQ(LoadTileProperties(PropertyBag{}).ForeColor, 0xFFFFFFu);
    EXPECT_EQ(LoadTileProperties(PropertyBag{}).Value, "12345678");
}
