#include "SevenSegment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr ColourValue On = 1, Off = 2;

// What DrawDigits lit: per position the 7-character pattern, and the index
// of every lit decimal point.
struct Lit {
    std::vector<std::string> patterns;
    std::vector<int> dots;
};

Lit Decode(const std::vector<Stroke>& strokes, int digits) {
    EXPECT_EQ(strokes.size(), size_t(digits) * 8 + 1);
    Lit lit;
    for (int j = 0; j <= digits && size_t(j) * 8 < strokes.size(); ++j) {
        if (strokes[size_t(j) * 8].colour == On) lit.dots.push_back(j);
        if (j == digits) break;
        std::string p;
        for (int k = 0; k < 7; ++k)
            p += strokes[size_t(j) * 8 + 1 + size_t(k)].colour == On ? '1' : '0';
        lit.patterns.push_back(p);
    }
    return lit;
}

Lit Show(const std::string& caption, int digits = 8) {
    return Decode(DrawDigits(caption, LayoutDigits(151, digits), On, Off), digits);
}

const std::string Blank = "0000000";

} // namespace

TEST(SevenSegmentGeometry, WorkedExampleOfTheTileDisplay) {
    const int L = SegmentLength(3795, 8, 0);
    EXPECT_EQ(L, 151);
    const DigitGeometry g = LayoutDigits(L, 8);
    EXPECT_EQ(g.T, 60);
    EXPECT_EQ(g.P, 451);
    ASSERT_EQ(g.seg.size(), 56u);
    ASSERT_EQ(g.dot.size(), 9u);
    EXPECT_EQ(g.seg[1].start, (TwipPoint{320, 60}));
    EXPECT_EQ(g.seg[1].end, (TwipPoint{471, 60}));
    for (int d = 0; d < 8; ++d) {
        EXPECT_EQ(g.seg[size_t(d * 7 + 5)].start.y, 602);
        EXPECT_EQ(g.seg[size_t(d * 7 + 5)].end.y, 602);
        EXPECT_EQ(g.seg[size_t(d * 7 + 1)].start.x, 320 + d * 451);
    }
    EXPECT_EQ(g.dot[0], (TwipPoint{170, 602}));
    EXPECT_EQ(g.dot[8].x, 3778);
    EXPECT_EQ(DisplayHeight(L, 0), 684);
    EXPECT_EQ(StrokeWidthPixels(L), 5);
}

TEST(SevenSegmentGeometry, EveryRoundingTakesHalvesToEven) {
    // 13 / 2 = 6.5 -> 6, then 6 / 2.8 -> 2 (halves up would give 7, then 3).
    EXPECT_EQ(SegmentLength(413, 2, 0), 2);
    // 7 / 2.8 = 2.5 -> 2.
    EXPECT_EQ(SegmentLength(407, 1, 0), 2);
    // The border comes off the width first.
    EXPECT_EQ(SegmentLength(3795 + 60, 8, 1), 151);
    EXPECT_EQ(StrokeWidthPixels(48), 2); // 1.5
    EXPECT_EQ(StrokeWidthPixels(80), 2); // 2.5
    EXPECT_EQ(StrokeWidthPixels(31), 1);
    EXPECT_EQ(StrokeWidthPixels(16), 1); // 0.5: below one pixel
}

TEST(SevenSegmentGeometry, NarrowOrDigitlessInputStaysDrawable) {
    EXPECT_EQ(SegmentLength(100, 8, 0), 1); // narrower than the margins
    EXPECT_GT(DisplayHeight(SegmentLength(0, 8, 1), 1), 0);
    EXPECT_EQ(SegmentLength(3795, 0, 0), SegmentLength(3795, 1, 0)); // no division by zero
    EXPECT_EQ(SegmentLength(2000000, 1, 0), 32767);                  // kept in 16 bits
    EXPECT_EQ(LayoutDigits(1, 8).T, 15);
}

TEST(SevenSegmentCaption, PatternsOfTheCharacters) {
    for (const auto& [c, pattern] : std::vector<std::pair<char, std::string>>{{'1', "0010001"},
                                                                              {'2', "0111110"},
                                                                              {'3', "0111011"},
                                                                              {'4', "1011001"},
                                                                              {'5', "1101011"},
                                                                              {'A', "1111101"},
                                                                              {'B', "1001111"},
                                                                              {'C', "0001110"},
                                                                              {'X', "1011101"},
                                                                              {'-', "0001000"},
                                                                              {'M', Blank},
                                                                              {'W', Blank},
                                                                              {' ', Blank}})
        EXPECT_EQ(SegmentPattern(c), pattern) << c;
    EXPECT_EQ(std::string(SegmentPattern('[')), SegmentPattern('{'));
    EXPECT_EQ(std::string(SegmentPattern(']')), SegmentPattern('}'));
}

// `shown` holds the character each of the eight positions shows, a space
// for an unlit one; `dots` the lit decimal points.
TEST(SevenSegmentCaption, CaptionsAreLeftAlignedOnePositionPerCharacter) {
    struct Case {
        std::string caption, shown;
        std::vector<int> dots;
    } cases[] = {
        {"", "        ", {}},
        {"123.45", "12345   ", {3}},
        {"1.2.3", "12 3    ", {1}}, // only the first point is taken
        {"12345678.", "12345678", {8}},
        {"123456789.", "12345678", {}}, // the ninth character is not shown
        {".5", "5       ", {0}},
        {"abcMW x", "ABC   X ", {}}, // upper-cased, unknown letters blank
        // A micro sign takes one position, and so does a stray byte.
        {"\xC2\xB5"
         "5\xFF"
         "1",
         " 5 1    ",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        const Lit lit = Show(c.caption);
        std::vector<std::string> expected;
        for (char ch : c.shown)
            expected.push_back(ch == ' ' ? Blank : SegmentPattern(ch));
        EXPECT_EQ(lit.patterns, expected);
        EXPECT_EQ(lit.dots, c.dots);
    }
}

TEST(SevenSegmentCaption, DrawingIsOneStrokePerSegmentAndPointInOrder) {
    const DigitGeometry g = LayoutDigits(151, 3);
    const std::vector<Stroke> strokes = DrawDigits("8", g, On, Off);
    ASSERT_EQ(strokes.size(), 25u);
    EXPECT_EQ(strokes[0].start, g.dot[0]);
    EXPECT_EQ(strokes[0].end, g.dot[0]); // a point is a stroke of no length
    EXPECT_EQ(strokes[1].start, g.seg[0].start);
    EXPECT_EQ(strokes[8].start, g.dot[1]);
    EXPECT_EQ(strokes[24].start, g.dot[3]);
    EXPECT_TRUE(DrawDigits("8", DigitGeometry{}, On, Off).empty());
}

namespace {

// A toolkit that, like Qt for a shown widget, answers a height change with
// an immediate resize event.
class FakeSurface : public DisplaySurface {
  public:
    int width = 3795, height = 690;
    std::vector<int> heightsSet;
    int clears = 0;
    std::vector<Stroke> lastStrokes;
    int lastStrokeWidth = 0;
    SevenSegmentDisplay* display = nullptr;

    int widthTwips() const override { return width; }
    int heightTwips() const override { return height; }
    void setHeightTwips(int h) override {
        heightsSet.push_back(h);
        const bool changed = h != height;
        height = h;
        if (changed && display) display->resize();
    }
    void clear(ColourValue) override { ++clears; }
    void draw(const std::vector<Stroke>& strokes, int w) override {
        lastStrokes = strokes;
        lastStrokeWidth = w;
    }
};

struct DisplayFixture : ::testing::Test {
    FakeSurface surface;
    std::vector<std::string> notified;
    SevenSegmentDisplay display{surface, [this](const char* key) { notified.push_back(key); }};
    DisplayFixture() { surface.display = &display; }
};

} // namespace

TEST_F(DisplayFixture, ResizeLaysOutSetsTheHeightAndDrawsOnce) {
    display.resize();
    EXPECT_EQ(display.properties().Size, 151);
    EXPECT_EQ(surface.heightsSet, std::vector<int>{684});
    EXPECT_EQ(display.drawings(), 1);
    EXPECT_EQ(surface.lastStrokes.size(), 65u);
    EXPECT_EQ(surface.lastStrokeWidth, 5);
}

TEST_F(DisplayFixture, TooLowAHeightIsRaisedThenSetFromTheWidth) {
    surface.height = 100;
    display.resize();
    EXPECT_EQ(surface.heightsSet, (std::vector<int>{195, 684}));
    EXPECT_EQ(display.drawings(), 1);

    surface.heightsSet.clear();
    surface.height = 200; // above 195, still below 255 with a border
    display.setBorderStyle(1);
    display.resize();
    // 3795 - 60 - 400 = 3335, / 8 -> 417, / 2.8 -> 149; (149 + 20) x 4 + 60.
    EXPECT_EQ(surface.heightsSet, (std::vector<int>{255, 736}));
}

TEST_F(DisplayFixture, DigitsAreClampedAndTheGeometryRebuilt) {
    display.setDigits(0);
    EXPECT_EQ(display.properties().Digits, 1);
    EXPECT_EQ(display.geometry().seg.size(), 7u);
    EXPECT_EQ(display.geometry().dot.size(), 2u);
    display.setDigits(150);
    EXPECT_EQ(display.properties().Digits, 99);
    EXPECT_EQ(display.geometry().seg.size(), 99u * 7);
    display.setDigits(3);
    EXPECT_EQ(display.geometry().seg.size(), 21u);
    EXPECT_EQ(display.geometry().dot.size(), 4u);
    EXPECT_EQ(surface.lastStrokes.size(), 25u);
    EXPECT_EQ(notified, (std::vector<std::string>{"Digits", "Digits", "Digits"}));
}

TEST_F(DisplayFixture, OnlyAChangedCaptionDraws) {
    display.resize();
    display.setCaption("1,5");
    EXPECT_EQ(display.properties().Caption, "1.5");
    EXPECT_EQ(display.drawings(), 2);
    display.setCaption("1,5");
    display.setCaption("1.5"); // the same text once the comma is replaced
    EXPECT_EQ(display.drawings(), 2);
    EXPECT_EQ(notified, (std::vector<std::string>{"Caption", "Caption", "Caption"}));
}

TEST_F(DisplayFixture, ColourChangesDrawAndBackgroundClears) {
    display.resize();
    const int clears = surface.clears;
    display.setOnColor(0xFF);
    display.setOffColor(0x80);
    EXPECT_EQ(display.drawings(), 3);
    EXPECT_EQ(surface.clears, clears);
    display.setBackColor(0x10);
    EXPECT_EQ(surface.clears, clears + 1);
    EXPECT_EQ(display.drawings(), 4);
    EXPECT_EQ(surface.lastStrokes[1].colour, 0x80u); // "1" leaves segment 0 unlit
    EXPECT_EQ(surface.lastStrokes[3].colour, 0xFFu); // and lights segment 2
}

TEST_F(DisplayFixture, StoredPropertiesAreTakenAsTheyAre) {
    DisplayProperties stored;
    stored.Caption = "1,5"; // loading does not run the setter's replacement
    stored.Digits = 0;      // would divide by zero
    stored.OnColor = 0xFF;
    display.load(stored);
    EXPECT_EQ(display.properties().Caption, "1,5");
    EXPECT_EQ(display.properties().Digits, 1);
    EXPECT_EQ(display.properties().OnColor, 0xFFu);
    EXPECT_EQ(display.drawings(), 1);
    EXPECT_TRUE(notified.empty());
    stored.Digits = 30000;
    display.load(stored);
    EXPECT_EQ(display.properties().Digits, 99);
}
