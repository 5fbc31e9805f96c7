#include "controls/SevenSegment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr ColourValue On = 1, Off = 2;

// What an eight-digit display lights for a caption: per position its
// character when lit as that character's pattern, "?" for another pattern,
// " " when unlit; a lit decimal point as "." before its position.
std::string Shown(const std::string& caption, const std::string& alphabet) {
    // Per position its point then its 7 segments.
    const std::vector<Stroke> strokes = DrawDigits(caption, LayoutDigits(151, 8), On, Off);
    std::string shown;
    for (size_t j = 0; j * 8 < strokes.size(); ++j) {
        if (strokes[j * 8].colour == On) shown += '.';
        if (j == 8) break;
        std::string p;
        for (size_t k = 1; k <= 7; ++k)
            p += strokes[j * 8 + k].colour == On ? '1' : '0';
        char c = p == "0000000" ? ' ' : '?';
        for (char a : alphabet)
            if (p == SegmentPattern(a)) c = a;
        shown += c;
    }
    return shown;
}

} // namespace

TEST(SevenSegment, WorkedExampleRoundingsAndLeftAlignedCaptions) {
    const DigitGeometry g = LayoutDigits(SegmentLength(3795, 8, 0), 8);
    EXPECT_EQ(std::vector({g.L, g.T, g.P, DisplayHeight(g.L, 0)}),
              std::vector({151, 60, 451, 684}));
    ASSERT_EQ(std::make_pair(g.seg.size(), g.dot.size()), std::make_pair(size_t(56), size_t(9)));
    EXPECT_EQ((std::vector{g.seg[1].start, g.seg[1].end, g.seg[7 * 7 + 5].end, g.dot[0]}),
              (std::vector<TwipPoint>{{320, 60}, {471, 60}, {471 + 7 * 451, 602}, {170, 602}}));
    EXPECT_EQ(g.dot[8].x, 3778);
    EXPECT_EQ(LayoutDigits(1, 8).T, 15);
    // Halves go to even: 13 / 2 = 6.5 -> 6, 6 / 2.8 -> 2 (halves up: 7, then 3);
    // 7 / 2.8 = 2.5 -> 2. The border comes off first; narrower than the margins
    // gives 1, no digits counts as one, the length is kept in 16 bits.
    EXPECT_EQ(std::vector({SegmentLength(413, 2, 0), SegmentLength(407, 1, 0),
                           SegmentLength(3855, 8, 1), SegmentLength(100, 8, 0),
                           SegmentLength(3795, 0, 0), SegmentLength(2000000, 1, 0)}),
              std::vector({2, 2, 151, 1, 1212, 32767}));
    EXPECT_GT(DisplayHeight(SegmentLength(0, 8, 1), 1), 0);
    // 1.5 -> 2, 2.5 -> 2, below one pixel -> 1.
    EXPECT_EQ(std::vector({StrokeWidthPixels(151), StrokeWidthPixels(48), StrokeWidthPixels(80),
                           StrokeWidthPixels(16)}),
              std::vector({5, 2, 2, 1}));
    EXPECT_TRUE(DrawDigits("8", DigitGeometry{}, On, Off).empty());
    std::string patterns;
    for (char c : std::string("0123456789ABCX-MW "))
        patterns += std::string(SegmentPattern(c)) + " ";
    EXPECT_EQ(patterns, "1110111 0010001 0111110 0111011 1011001 1101011 1101111 0110001 "
                        "1111111 1111001 1111101 1001111 0001110 1011101 0001000 0000000 "
                        "0000000 0000000 ");
    EXPECT_EQ(std::string(SegmentPattern('[')) + SegmentPattern(']'),
              std::string(SegmentPattern('{')) + SegmentPattern('}'));
    const std::pair<const char*, const char*> cases[] = {
        {"", "        "},
        {"123.45", "123.45   "},
        {"1.2.3", "1.2 3    "},     // only the first point is taken
        {"12345678.", "12345678."}, // the point after the last position
        {"123456789.", "12345678"}, // the ninth character is not shown
        {".5", ".5       "},
        {"abcMW x", "ABC   X "},        // upper-cased, unknown letters blank
        {"\302\2655\3771", " 5 1    "}, // a micro sign is one position, a stray byte too
    };
    for (const auto& [caption, shown] : cases)
        EXPECT_EQ(Shown(caption, "12345678ABCX-"), shown) << caption;
}

namespace {

// A toolkit that, like Qt for a shown widget, answers a height change with
// an immediate resize event.
struct FakeSurface : DisplaySurface {
    int width = 3795, height = 100, clears = 0, strokeWidth = 0;
    std::vector<int> heightsSet;
    std::vector<Stroke> strokes;
    SevenSegmentDisplay* display = nullptr;

    int widthTwips() const override { return width; }
    int heightTwips() const override { return height; }
    void setHeightTwips(int h) override {
        heightsSet.push_back(h);
        std::swap(height, h);
        if (h != height && display) display->resize();
    }
    void clear(ColourValue) override { ++clears; }
    void draw(const std::vector<Stroke>& s, int w) override {
        strokes = s;
        strokeWidth = w;
    }
};

struct DisplayFixture : ::testing::Test {
    FakeSurface surface;
    std::vector<std::string> notified;
    SevenSegmentDisplay display{surface, [this](const char* key) { notified.push_back(key); }};
    DisplayFixture() { surface.display = &display; }
};

} // namespace

// Too low a height is raised first, then set from the width; one drawing.
TEST_F(DisplayFixture, ResizeLaysOutSetsTheHeightAndDrawsOnce) {
    display.resize();
    EXPECT_EQ(surface.heightsSet, (std::vector<int>{195, 684}));
    EXPECT_EQ(std::vector({display.properties().Size, display.drawings(),
                           int(surface.strokes.size()), surface.strokeWidth}),
              std::vector({151, 1, 65, 5}));
    surface.heightsSet.clear();
    surface.height = 200; // above 195, still below 255 with a border
    display.setBorderStyle(1);
    display.resize();
    // 3795 - 60 - 400 = 3335, / 8 -> 417, / 2.8 -> 149; (149 + 20) x 4 + 60.
    EXPECT_EQ(surface.heightsSet, (std::vector<int>{255, 736}));
}

TEST_F(DisplayFixture, StoredPropertiesAreTakenAsTheyAre) {
    DisplayProperties stored;
    stored.Caption = "1,5"; // loading does not run the setter's replacement
    stored.Digits = 0;      // would divide by zero
    display.load(stored);
    EXPECT_EQ(std::make_tuple(display.properties().Caption, display.properties().Digits,
                              display.drawings(), notified.size()),
              std::make_tuple("1,5", 1, 1, size_t(0)));
    stored.Digits = 30000;
    display.load(stored);
    EXPECT_EQ(display.properties().Digits, 99);
}
