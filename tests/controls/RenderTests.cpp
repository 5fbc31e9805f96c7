// The widgets painted offscreen: which changes draw and which colours a
// change leads to is the display's and the schemes' (SevenSegmentTests,
// StoredPropertiesTests); here the pixels and the containers. Nothing in the
// program listens to the displays' mouse events.
#include "controls/LCDModule.h"
#include "controls/QtSurface.h"
#include "controls/eLCD.h"
#include "controls/eLCDContainer.h"

#include <QApplication>
#include <QLabel>
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

// Readable failure messages.
void PrintTo(const QColor& c, std::ostream* os) {
    *os << c.name().toStdString();
}

namespace {

QPoint MiddleOf(const Segment& s) {
    return QPoint(int((s.start.x + s.end.x) / 2 / TwipsPerPixel),
                  int((s.start.y + s.end.y) / 2 / TwipsPerPixel));
}

QColor SegmentPixel(const eLCD& lcd, size_t index) {
    return lcd.image().pixelColor(MiddleOf(lcd.geometry().seg[index]));
}

} // namespace

// The tile's design, its title as plain text, its rounded frame, and
// the pixels of scheme 4 (red on nearly black) through the frame.
TEST(TileRender, DesignSchemeAndZero) {
    LCDModule tile;
    eLCD& lcd = *tile.display();
    eLCDContainer& frame = *tile.frame();
    ASSERT_EQ(frame.geometry(), QRect(4, 28, 261, 57));
    EXPECT_EQ(std::vector({frame.OnColor(), frame.OffColor()}),
              std::vector<ColourValue>({0, 0xC0C0C0}));
    tile.setTitle("<b>x</b> & y");
    EXPECT_EQ(tile.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_FALSE(frame.mask().contains(QPoint(0, 0)));
    tile.setValue("1");
    tile.setScheme(4);
    const QImage shot = tile.grab().toImage();
    EXPECT_EQ(
        (std::vector{shot.pixelColor(frame.x() + 2, frame.y() + 40), SegmentPixel(lcd, 0),
                     shot.pixelColor(frame.pos() + lcd.pos() + MiddleOf(lcd.geometry().seg[2]))}),
        (std::vector{QColor(21, 0, 1), QColor(128, 0, 0), QColor(255, 0, 0)}));
    // A back colour equal to the display's changes nothing but itself.
    const int drawn = lcd.drawings();
    tile.setBackColor(65557);
    EXPECT_EQ(std::make_tuple(tile.BackColor(), lcd.OffColor(), lcd.drawings()),
              std::make_tuple(65557u, 128u, drawn));
}

// The fresh tile saves only its design's window-text segments, and a load
// takes every stored property; a new back colour hides the unlit segments.
TEST(TileRender, TileAndFrameLoadAndSave) {
    LCDModule tile;
    PropertyBag fresh;
    tile.save(fresh);
    ASSERT_EQ(fresh.entries().size(), 1u);
    EXPECT_EQ(fresh.entries()[0].first, "ForeColor");
    PropertyBag bag;
    SaveTileProperties(bag, {0x0000FF, 0xFFFFFF, "Flow", "-------", 7});
    tile.load(bag);
    EXPECT_EQ(std::make_tuple(tile.display()->OffColor(), tile.frame()->BackColor(), tile.Title(),
                              tile.Value(), tile.Digits()),
              std::make_tuple(0x0000FFu, 0x0000FFu, "Flow", "-------", 7));
    // Scheme 0 pushes the frame's present colours to its displays, passing over
    // widgets without colours; loading keeps the scheme without applying it.
    eLCDContainer frame;
    auto* lcd = new eLCD(&frame);
    new QLabel(&frame);
    frame.setOnColor(0x00FF00);
    frame.setOffColor(0x112233);
    frame.setBackColor(0x445566);
    EXPECT_EQ(lcd->OnColor(), 0u); // setting the frame alone pushes nothing
    frame.setScheme(0);
    EXPECT_EQ((std::vector{lcd->BackColor(), lcd->OnColor(), lcd->OffColor()}),
              (std::vector<ColourValue>{0x445566, 0x00FF00, 0x112233}));

    PropertyBag frameBag, saved;
    SaveFrameProperties(frameBag, {0x0A0B0C, 0, 7969130, "", 0, 0, 2});
    frame.load(frameBag);
    EXPECT_EQ(frame.Scheme(), 2);
    EXPECT_EQ(lcd->BackColor(), 0x445566u); // not pushed
    frame.save(saved);
    EXPECT_EQ(saved.entries(), frameBag.entries());
}
