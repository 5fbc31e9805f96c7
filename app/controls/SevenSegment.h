// Seven-segment display: geometry from the width, the strokes of a caption,
// and the display's property logic over a small drawing-surface seam.
// All coordinates are twips from the control's top left corner.
#pragma once

#include "controls/ColourValue.h"
#include "controls/PropertyBag.h"

#include <functional>
#include <string>
#include <vector>

constexpr int MinDigits = 1;
constexpr int MaxDigits = 99;
int ClampDigits(int digits);

// Border allowance B, the least height B + 195, the segment length L from
// the width (three roundings, halves to even) and the height (L + 20) x 4 + B.
int BorderAllowance(int borderStyle);
// 1 is a fixed single border; every other value means none.
constexpr int ValidBorderStyle(int style) {
    return style == 1 ? 1 : 0;
}
int MinimumDisplayHeight(int borderStyle);
int SegmentLength(int width, int digits, int borderStyle);
int DisplayHeight(int segmentLength, int borderStyle);

struct TwipPoint {
    float x = 0, y = 0;
    bool operator==(const TwipPoint&) const = default;
};
struct Segment {
    TwipPoint start, end;
};

// seg[position * 7 + k]: k 0 upper left, 1 top, 2 upper right, 3 middle,
// 4 lower left, 5 bottom, 6 lower right. dot[j] lies left of position j;
// dot[digits] right of the last digit.
struct DigitGeometry {
    int L = 0;      // segment length
    int T = 0;      // gap unit
    int P = 0;      // digit pitch
    int digits = 0; // 0 until laid out
    std::vector<Segment> seg;
    std::vector<TwipPoint> dot;
};
DigitGeometry LayoutDigits(int segmentLength, int digits);

// "1" at index k when segment k is lit; every unknown character is blank.
const char* SegmentPattern(char32_t upperCaseCharacter);
// The caption as the display stores it: every "," becomes ".".
std::string NormaliseCaption(const std::string& text);
int StrokeWidthPixels(int segmentLength);

struct Stroke {
    TwipPoint start, end; // equal for a decimal point
    ColourValue colour = 0;
};
// One stroke per decimal point and per segment, in drawing order.
std::vector<Stroke> DrawDigits(const std::string& caption, const DigitGeometry& geometry,
                               ColourValue onColour, ColourValue offColour);

// What the display needs from the toolkit.
class DisplaySurface {
  public:
    virtual ~DisplaySurface() = default;
    virtual int widthTwips() const = 0;
    virtual int heightTwips() const = 0;
    virtual void setHeightTwips(int height) = 0;
    // Wipes the kept image to the background colour.
    virtual void clear(ColourValue background) = 0;
    // Adds strokes with round ends to the kept image.
    virtual void draw(const std::vector<Stroke>& strokes, int strokeWidthPixels) = 0;
};

struct DisplayProperties {
    ColourValue BackColor = Sys3DLight;
    ColourValue OnColor = 0;
    ColourValue OffColor = 7969130;
    int Size = 100;
    std::string Caption = "12345678";
    int Digits = 8;
    std::string MouseIcon; // encoded image, empty for none
    int MousePointer = 0;
    int BorderStyle = 0;
};
void SaveDisplayProperties(PropertyBag& bag, const DisplayProperties& p);
DisplayProperties LoadDisplayProperties(const PropertyBag& bag);

// The colours and pointer settings that the display and its frame store
// alike (BackColor against button face, the others against their creation
// values).
void SaveColours(PropertyBag& bag, ColourValue back, ColourValue on, ColourValue off);
void LoadColours(const PropertyBag& bag, ColourValue& back, ColourValue& on, ColourValue& off);
void SavePointer(PropertyBag& bag, const std::string& icon, int pointer, int borderStyle);
void LoadPointer(const PropertyBag& bag, std::string& icon, int& pointer, int& borderStyle);

// The display's behaviour: draws only after a resize, a Digits change, a
// colour change or a changed caption. notify receives the persisted key of
// every property a setter touched.
class SevenSegmentDisplay {
  public:
    using Notify = std::function<void(const char* key)>;
    explicit SevenSegmentDisplay(DisplaySurface& surface, Notify notify = {});

    const DisplayProperties& properties() const { return m_p; }
    // Takes stored properties as they are (Digits still kept within 1..99);
    // the host sizes the control afterwards.
    void load(const DisplayProperties& stored);

    void setBackColor(ColourValue c);
    void setOnColor(ColourValue c);
    void setOffColor(ColourValue c);
    void setCaption(const std::string& text);
    void setDigits(int digits);
    void setMousePointer(int pointer);
    void setMouseIcon(const std::string& icon);
    void setBorderStyle(int style);

    // The resize procedure: the host calls it whenever the size changed.
    void resize();

    const DigitGeometry& geometry() const { return m_geometry; }
    int drawings() const { return m_drawings; }

  private:
    void drawDigits();
    void changed(const char* key);

    DisplaySurface& m_surface;
    Notify m_notify;
    DisplayProperties m_p;
    DigitGeometry m_geometry;
    bool m_resizing = false;
    int m_drawings = 0;
};
