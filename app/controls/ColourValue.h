// Colour values as the stored properties hold them, and the twip unit.
#pragma once

#include <cstdint>

// Below 0x80000000: red in the low byte, green in the second, blue in the
// third. 0x80000000 + n: system colour n of the platform.
using ColourValue = uint32_t;

constexpr ColourValue SystemColourFlag = 0x80000000u;
constexpr ColourValue SysWindowText = SystemColourFlag + 8;
constexpr ColourValue SysButtonFace = SystemColourFlag + 15;
constexpr ColourValue SysButtonText = SystemColourFlag + 18;
constexpr ColourValue Sys3DLight = SystemColourFlag + 22;

constexpr ColourValue RgbColour(uint8_t red, uint8_t green, uint8_t blue) {
    return ColourValue(red) | ColourValue(green) << 8 | ColourValue(blue) << 16;
}
constexpr bool IsSystemColour(ColourValue c) {
    return (c & SystemColourFlag) != 0;
}
constexpr int SystemColourIndex(ColourValue c) {
    return int(c & ~SystemColourFlag);
}
constexpr uint8_t RedOf(ColourValue c) {
    return uint8_t(c & 0xFF);
}
constexpr uint8_t GreenOf(ColourValue c) {
    return uint8_t(c >> 8 & 0xFF);
}
constexpr uint8_t BlueOf(ColourValue c) {
    return uint8_t(c >> 16 & 0xFF);
}

// Control geometry is kept in twips, 15 to a logical pixel.
constexpr int TwipsPerPixel = 15;

// Nearest integer, halves to the even neighbour (the rounding of every
// stored size and of the display arithmetic).
long RoundHalfEven(double value);
constexpr int PixelsToTwips(int pixels) {
    return pixels * TwipsPerPixel;
}
int TwipsToPixels(double twips);
