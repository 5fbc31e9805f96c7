#include "TileColours.h"

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
    const FrameProperties def;
    bag.write("BackColor", int64_t(p.BackColor), int64_t(SysButtonFace));
    bag.write("OnColor", int64_t(p.OnColor), int64_t(def.OnColor));
    bag.write("OffColor", int64_t(p.OffColor), int64_t(def.OffColor));
    bag.write("MouseIcon", p.MouseIcon, def.MouseIcon);
    bag.write("MousePointer", int64_t(p.MousePointer), int64_t(def.MousePointer));
    bag.write("BorderStyle", int64_t(p.BorderStyle), int64_t(def.BorderStyle));
    bag.write("Scheme", int64_t(p.Scheme), int64_t(def.Scheme));
}

FrameProperties LoadFrameProperties(const PropertyBag& bag) {
    FrameProperties p;
    p.BackColor = ColourValue(bag.readNumber("BackColor", SysButtonFace));
    p.OnColor = ColourValue(bag.readNumber("OnColor", p.OnColor));
    p.OffColor = ColourValue(bag.readNumber("OffColor", p.OffColor));
    p.MouseIcon = bag.readText("MouseIcon", p.MouseIcon);
    p.MousePointer = int(bag.readNumber("MousePointer", p.MousePointer));
    p.BorderStyle = int(bag.readNumber("BorderStyle", p.BorderStyle));
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
