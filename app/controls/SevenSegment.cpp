#include "controls/SevenSegment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int LeftMargin = 200; // X0
constexpr const char* Blank = "0000000";

// Each character of the caption is one position, whatever its UTF-8 length;
// a byte that starts no valid sequence counts as a character of its own.
std::u32string DecodeCharacters(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80             ? 0
                          : (lead & 0xE0) == 0xC0 ? 1
                          : (lead & 0xF0) == 0xE0 ? 2
                          : (lead & 0xF8) == 0xF0 ? 3
                                                  : -1;
        bool valid = extra >= 0 && i + size_t(extra) < text.size();
        char32_t c = extra > 0 ? char32_t(lead & (0x7F >> (extra + 1))) : lead;
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        out.push_back(valid ? c : char32_t(lead));
        i += valid ? size_t(extra) + 1 : 1;
    }
    return out;
}

} // namespace

int ClampDigits(int digits) {
    return std::clamp(digits, MinDigits, MaxDigits);
}

int BorderAllowance(int borderStyle) {
    return 60 * ValidBorderStyle(borderStyle);
}

int MinimumDisplayHeight(int borderStyle) {
    return BorderAllowance(borderStyle) + 195;
}

int SegmentLength(int width, int digits, int borderStyle) {
    long L = RoundHalfEven(double(width) - BorderAllowance(borderStyle) - 400);
    L = RoundHalfEven(double(L) / ClampDigits(digits));
    L = RoundHalfEven(double(L) / 2.8);
    // A control narrower than its margins would get segments of negative
    // length; the length is also stored in 16 bits.
    return int(std::clamp(L, 1L, long(INT16_MAX)));
}

int DisplayHeight(int segmentLength, int borderStyle) {
    return (segmentLength + 20) * 4 + BorderAllowance(borderStyle);
}

DigitGeometry LayoutDigits(int segmentLength, int digits) {
    DigitGeometry g;
    const int L = segmentLength;
    g.L = L;
    g.T = std::max(15, int(std::floor(double(L) / 3.0 / 15.0) + 1) * 15);
    g.P = L + 5 * g.T;
    g.digits = ClampDigits(digits);
    const float T = float(g.T), x = float(LeftMargin), fl = float(L);
    g.seg = {
        {{x + T, 2 * T}, {x + T, 2 * T + fl}},
        {{x + 2 * T, T}, {x + 2 * T + fl, T}},
        {{x + 3 * T + fl, 2 * T}, {x + 3 * T + fl, 2 * T + fl}},
        {{x + 2 * T, 3 * T + fl}, {x + 2 * T + fl, 3 * T + fl}},
        {{x + T, 4 * T + fl}, {x + T, 4 * T + 2 * fl}},
        {{x + 2 * T, 5 * T + 2 * fl}, {x + 2 * T + fl, 5 * T + 2 * fl}},
        {{x + 3 * T + fl, 4 * T + fl}, {x + 3 * T + fl, 4 * T + 2 * fl}},
    };
    g.dot = {{x - T / 2, 5 * T + 2 * fl}};
    g.seg.reserve(size_t(g.digits) * 7);
    g.dot.reserve(size_t(g.digits) + 1);
    for (int d = 1; d <= g.digits; ++d) {
        const float shift = float(d) * float(g.P);
        if (d < g.digits) {
            for (int k = 0; k < 7; ++k) {
                Segment s = g.seg[size_t(k)];
                s.start.x += shift;
                s.end.x += shift;
                g.seg.push_back(s);
            }
        }
        TwipPoint p = g.dot.back();
        p.x += float(g.P);
        g.dot.push_back(p);
    }
    return g;
}

const char* SegmentPattern(char32_t c) {
    switch (c) {
    case U'0':
        return "1110111";
    case U'1':
        return "0010001";
    case U'2':
        return "0111110";
    case U'3':
        return "0111011";
    case U'4':
        return "1011001";
    case U'5':
        return "1101011";
    case U'6':
        return "1101111";
    case U'7':
        return "0110001";
    case U'8':
        return "1111111";
    case U'9':
        return "1111001";
    case U'-':
        return "0001000";
    case U'?':
        return "0111100";
    case U'=':
        return "0001010";
    case U'^':
        return "1110101";
    case U'>':
        return "0000011";
    case U'<':
        return "0000110";
    case U'{':
    case U'[':
        return "1100110";
    case U'}':
    case U']':
        return "0110011";
    case U'A':
        return "1111101";
    case U'B':
        return "1001111";
    case U'C':
        return "0001110";
    case U'D':
        return "0011111";
    case U'E':
        return "1101110";
    case U'F':
        return "1101100";
    case U'G':
        return "1111011";
    case U'H':
        return "1011101";
    case U'I':
        return "0000001";
    case U'J':
        return "0010011";
    case U'K':
        return "1001110";
    case U'L':
        return "1000110";
    case U'N':
        return "0001101";
    case U'O':
        return "0001111";
    case U'P':
        return "1111100";
    case U'Q':
        return "1111001";
    case U'R':
        return "0001100";
    case U'S':
        return "1101011";
    case U'T':
        return "1001110";
    case U'U':
    case U'V':
        return "0000111";
    case U'X':
        return "1011101";
    case U'Y':
        return "1011011";
    case U'Z':
        return "0111110";
    default:
        return Blank;
    }
}

std::string NormaliseCaption(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), ',', '.');
    return out;
}

int StrokeWidthPixels(int segmentLength) {
    const double w = segmentLength / 32.0;
    return w >= 1 ? int(RoundHalfEven(w)) : 1;
}

std::vector<Stroke> DrawDigits(const std::string& caption, const DigitGeometry& geometry,
                               ColourValue onColour, ColourValue offColour) {
    std::u32string text = DecodeCharacters(caption);
    for (char32_t& c : text)
        if (c >= U'a' && c <= U'z') c = c - U'a' + U'A';
    const size_t point = text.find(U'.');
    const long dp = point == std::u32string::npos ? -1 : long(point);
    if (point != std::u32string::npos) text.erase(point, 1);

    std::vector<Stroke> strokes;
    const int digits = geometry.digits;
    if (digits <= 0 || geometry.seg.size() < size_t(digits) * 7 ||
        geometry.dot.size() < size_t(digits) + 1)
        return strokes;
    strokes.reserve(size_t(digits) * 8 + 1);
    for (int j = 0; j <= digits; ++j) {
        const TwipPoint& d = geometry.dot[size_t(j)];
        strokes.push_back({d, d, j == dp ? onColour : offColour});
        if (j == digits) break;
        const char* pattern = size_t(j) < text.size() ? SegmentPattern(text[size_t(j)]) : Blank;
        for (int k = 0; k < 7; ++k) {
            const Segment& s = geometry.seg[size_t(j * 7 + k)];
            strokes.push_back({s.start, s.end, pattern[k] == '1' ? onColour : offColour});
        }
    }
    return strokes;
}

void SaveColours(PropertyBag& bag, ColourValue back, ColourValue on, ColourValue off) {
    const DisplayProperties def;
    bag.write("BackColor", int64_t(back), int64_t(SysButtonFace));
    bag.write("OnColor", int64_t(on), int64_t(def.OnColor));
    bag.write("OffColor", int64_t(off), int64_t(def.OffColor));
}

void LoadColours(const PropertyBag& bag, ColourValue& back, ColourValue& on, ColourValue& off) {
    const DisplayProperties def;
    back = ColourValue(bag.readNumber("BackColor", SysButtonFace));
    on = ColourValue(bag.readNumber("OnColor", def.OnColor));
    off = ColourValue(bag.readNumber("OffColor", def.OffColor));
}

void SavePointer(PropertyBag& bag, const std::string& icon, int pointer, int borderStyle) {
    const DisplayProperties def;
    bag.write("MouseIcon", icon, def.MouseIcon);
    bag.write("MousePointer", int64_t(pointer), int64_t(def.MousePointer));
    bag.write("BorderStyle", int64_t(borderStyle), int64_t(def.BorderStyle));
}

void LoadPointer(const PropertyBag& bag, std::string& icon, int& pointer, int& borderStyle) {
    const DisplayProperties def;
    icon = bag.readText("MouseIcon", def.MouseIcon);
    pointer = int(bag.readNumber("MousePointer", def.MousePointer));
    borderStyle = int(bag.readNumber("BorderStyle", def.BorderStyle));
}

void SaveDisplayProperties(PropertyBag& bag, const DisplayProperties& p) {
    const DisplayProperties def;
    SaveColours(bag, p.BackColor, p.OnColor, p.OffColor);
    bag.write("Size", int64_t(p.Size), int64_t(def.Size));
    bag.write("Caption", p.Caption, def.Caption);
    bag.write("Digits", int64_t(p.Digits), int64_t(def.Digits));
    SavePointer(bag, p.MouseIcon, p.MousePointer, p.BorderStyle);
}

DisplayProperties LoadDisplayProperties(const PropertyBag& bag) {
    DisplayProperties p;
    LoadColours(bag, p.BackColor, p.OnColor, p.OffColor);
    p.Size = int(bag.readNumber("Size", p.Size));
    p.Caption = bag.readText("Caption", p.Caption);
    p.Digits = int(bag.readNumber("Digits", p.Digits));
    LoadPointer(bag, p.MouseIcon, p.MousePointer, p.BorderStyle);
    return p;
}

SevenSegmentDisplay::SevenSegmentDisplay(DisplaySurface& surface, Notify notify)
    : m_surface(surface), m_notify(std::move(notify)) {}

void SevenSegmentDisplay::changed(const char* key) {
    if (m_notify) m_notify(key);
}

void SevenSegmentDisplay::load(const DisplayProperties& stored) {
    m_p = stored;
    // A stored count of 0 would divide by zero, a huge one exhaust memory.
    m_p.Digits = ClampDigits(stored.Digits);
    m_p.BorderStyle = ValidBorderStyle(stored.BorderStyle);
    m_geometry = {};
    m_surface.clear(m_p.BackColor);
    resize();
}

void SevenSegmentDisplay::setBackColor(ColourValue c) {
    m_p.BackColor = c;
    m_surface.clear(c);
    changed("BackColor");
    drawDigits();
}

void SevenSegmentDisplay::setOnColor(ColourValue c) {
    m_p.OnColor = c;
    changed("OnColor");
    drawDigits();
}

void SevenSegmentDisplay::setOffColor(ColourValue c) {
    m_p.OffColor = c;
    changed("OffColor");
    drawDigits();
}

void SevenSegmentDisplay::setCaption(const std::string& text) {
    std::string caption = NormaliseCaption(text);
    changed("Caption");
    if (caption == m_p.Caption) return;
    m_p.Caption = std::move(caption);
    drawDigits();
}

void SevenSegmentDisplay::setDigits(int digits) {
    m_p.Digits = ClampDigits(digits);
    changed("Digits");
    m_geometry = {};
    resize();
}

void SevenSegmentDisplay::setMousePointer(int pointer) {
    m_p.MousePointer = pointer;
    changed("MousePointer");
}

void SevenSegmentDisplay::setMouseIcon(const std::string& icon) {
    m_p.MouseIcon = icon;
    changed("MouseIcon");
}

void SevenSegmentDisplay::setBorderStyle(int style) {
    m_p.BorderStyle = ValidBorderStyle(style);
    changed("BorderStyle");
}

void SevenSegmentDisplay::resize() {
    if (m_resizing) return;
    m_resizing = true;
    const int minimum = MinimumDisplayHeight(m_p.BorderStyle);
    // Too low a control is first raised to the least height; the layout
    // below then sets the height from the width in any case.
    if (m_surface.heightTwips() < minimum) m_surface.setHeightTwips(minimum);
    m_p.Size = SegmentLength(m_surface.widthTwips(), m_p.Digits, m_p.BorderStyle);
    m_geometry = LayoutDigits(m_p.Size, m_p.Digits);
    m_surface.clear(m_p.BackColor);
    m_surface.setHeightTwips(DisplayHeight(m_p.Size, m_p.BorderStyle));
    drawDigits();
    m_resizing = false;
}

void SevenSegmentDisplay::drawDigits() {
    // Before the first layout there is no geometry to draw on.
    if (m_geometry.digits == 0) return;
    m_surface.draw(DrawDigits(m_p.Caption, m_geometry, m_p.OnColor, m_p.OffColor),
                   StrokeWidthPixels(m_p.Size));
    ++m_drawings;
}
