// Display frame and channel tile: the colour schemes and the stored
// properties of both.
#pragma once

#include "controls/ColourValue.h"
#include "controls/PropertyBag.h"

#include <cstdint>
#include <optional>
#include <string>

struct SchemeColours {
    ColourValue back, off, on;
};
constexpr int SchemeCount = 5;
// Row of scheme 1 to 5; nothing for any other number.
std::optional<SchemeColours> SchemeColors(int32_t scheme);

struct FrameProperties {
    ColourValue BackColor = Sys3DLight;
    ColourValue OnColor = 0;
    ColourValue OffColor = 7969130;
    std::string MouseIcon;
    int MousePointer = 0;
    int BorderStyle = 0;
    int32_t Scheme = 0;
};
void SaveFrameProperties(PropertyBag& bag, const FrameProperties& p);
FrameProperties LoadFrameProperties(const PropertyBag& bag);

struct TileProperties {
    ColourValue BackColor = 0;
    ColourValue ForeColor = 0xFFFFFF;
    std::string Title = "Label1";
    std::string Value = "12345678";
    int Digits = 8;
};
void SaveTileProperties(PropertyBag& bag, const TileProperties& p);
TileProperties LoadTileProperties(const PropertyBag& bag);
