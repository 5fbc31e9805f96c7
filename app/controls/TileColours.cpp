#include "controls/TileColours.h"

#include "controls/SevenSegment.h"

#include <array>

std::optional<SchemeColours> SchemeColors(int32_t scheme) {
    static const std::array<SchemeColours, SchemeCount> table = {{
        {RgbColour(150, 182, 160), RgbColour(133, 171, 145), RgbColour(0, 0, 0)},
        {RgbColour(135, 202, 224), RgbColour(114, 192, 218), RgbColour(0, 0, 0)},
        {RgbColour(192, 192, 192), RgbColour(179, 179, 179), RgbColour(0, 0, 0)},
        {RgbColour(21, 0, 1), RgbColour(128, 0, 0), RgbColour(255, 0, 0)},
        {RgbColour(12, 37, 12), RgbColour(0, 64, 0), RgbColour(0, 255, 0)},
    }};
    if (scheme < 1 || scheme > SchemeCount) return std::nullopt;
    return table[size_t(scheme - 1)];
}

void SaveFrameProperties(PropertyBag& bag, const FrameProperties& p) {
    SaveColours(bag, p.BackColor, p.OnColor, p.OffColor);
    SavePointer(bag, p.MouseIcon, p.MousePointer, p.BorderStyle);
    bag.write("Scheme", int64_t(p.Scheme), int64_t(0));
}

FrameProperties LoadFrameProperties(const PropertyBag& bag) {
    FrameProperties p;
    LoadColours(bag, p.BackColor, p.OnColor, p.OffColor);
    LoadPointer(bag, p.MouseIcon, p.MousePointer, p.BorderStyle);
    p.Scheme = int32_t(bag.readNumber("Scheme", p.Scheme));
    return p;
}

void SaveTileProperties(PropertyBag& bag, const TileProperties& p) {
    const TileProperties def;
    bag.write("BackColor", int64_t(p.BackColor), int64_t(def.BackColor));
    bag.write("ForeColor", int64_t(p.ForeColor), int64_t(def.ForeColor));
    bag.write("Title", p.Title, def.Title);
    bag.write("Value", p.Value, def.Value);
    bag.write("Digits", int64_t(p.Digits), int64_t(def.Digits));
}

TileProperties LoadTileProperties(const PropertyBag& bag) {
    TileProperties p;
    p.BackColor = ColourValue(bag.readNumber("BackColor", p.BackColor));
    p.ForeColor = ColourValue(bag.readNumber("ForeColor", p.ForeColor));
    p.Title = bag.readText("Title", p.Title);
    p.Value = bag.readText("Value", p.Value);
    p.Digits = int(bag.readNumber("Digits", p.Digits));
    return p;
}
