#include "LCDModule.h"
#include "QtSurface.h"
#include "TableContainer.h"
#include "eLCD.h"
#include "eLCDContainer.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

#include <ostream>
#include <tuple>
#include <vector>

// Readable failure messages.
void PrintTo(const QColor& c, std::ostream* os) {
    *os << c.name().toStdString();
}

namespace {

// Records every emission of a signal with its arguments.
template <class... Args> struct Spy {
    std::vector<std::tuple<std::decay_t<Args>...>> calls;
    template <class Sender, class Signal> Spy(Sender* sender, Signal signal) {
        QObject::connect(sender, signal, [this](Args... a) { calls.emplace_back(a...); });
    }
    size_t count() const { return calls.size(); }
};

QColor Rgb(ColourValue c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QPoint MiddleOf(const Segment& s) {
    return QPoint(int((s.start.x + s.end.x) / 2 / TwipsPerPixel),
                  int((s.start.y + s.end.y) / 2 / TwipsPerPixel));
}
QPoint At(const TwipPoint& p) {
    return QPoint(int(p.x / TwipsPerPixel), int(p.y / TwipsPerPixel));
}

constexpr ColourValue Back = 0x1E140A, On = 0x0000FF, Off = 0xFF0000;

struct DisplayRender : ::testing::Test {
    eLCD lcd;
    DisplayRender() {
        lcd.setGeometryTwips(0, 0, 3795, 690);
        lcd.setBackColor(Back);
        lcd.setOnColor(On);
        lcd.setOffColor(Off);
    }
    QColor pixel(QPoint p) const { return lcd.image().pixelColor(p); }
    QColor segment(int position, int k) const {
        return pixel(MiddleOf(lcd.geometry().seg[size_t(position * 7 + k)]));
    }
    QColor dot(int j) const { return pixel(At(lcd.geometry().dot[size_t(j)])); }
};

} // namespace

TEST_F(DisplayRender, LitAndUnlitSegmentsAndDotsTakeTheirColours) {
    lcd.setCaption("12.3");
    EXPECT_EQ(segment(0, 0), Rgb(Off)); // "1": upper left unlit
    EXPECT_EQ(segment(0, 2), Rgb(On));  //      upper right lit
    EXPECT_EQ(segment(1, 1), Rgb(On));  // "2": top lit
    EXPECT_EQ(segment(1, 6), Rgb(Off)); //      lower right unlit
    EXPECT_EQ(segment(7, 3), Rgb(Off)); // blank position
    EXPECT_EQ(dot(2), Rgb(On));
    EXPECT_EQ(dot(0), Rgb(Off));
    EXPECT_EQ(dot(8), Rgb(Off));
    EXPECT_EQ(pixel(QPoint(1, 1)), Rgb(Back));
    EXPECT_EQ(pixel(QPoint(lcd.width() - 1, lcd.height() - 1)), Rgb(Back));
}

TEST_F(DisplayRender, ALitSegmentTurnedOffLeavesNoTrace) {
    lcd.setCaption("8");
    lcd.setCaption("1");
    lcd.setOffColor(Back);
    const QImage& image = lcd.image();
    const QRect firstDigit(QPoint(0, 0), At({lcd.geometry().seg[2].start.x - 60, 684}));
    for (int y = 0; y < firstDigit.height() && y < image.height(); ++y)
        for (int x = 0; x < firstDigit.width(); ++x)
            ASSERT_EQ(image.pixelColor(x, y), Rgb(Back)) << x << "," << y;
}

TEST_F(DisplayRender, DrawsOnlyOnChangesNeverOnRepaint) {
    // Which changes draw is the display's (DisplayFixture); here: that the
    // widget adds no drawing of its own.
    lcd.setCaption("42");
    const int drawn = lcd.drawings();
    lcd.show();
    lcd.repaint();
    lcd.resize(lcd.size()); // same size: no resize procedure
    EXPECT_EQ(lcd.drawings(), drawn);
    lcd.resize(300, lcd.height()); // a shown widget hears its resize at once
    EXPECT_EQ(lcd.drawings(), drawn + 1);
    EXPECT_EQ(lcd.geometry().L, SegmentLength(4500, 8, 0));
}

TEST_F(DisplayRender, SystemColoursComeFromThePalette) {
    lcd.setBackColor(Sys3DLight);
    lcd.setOnColor(SysWindowText);
    lcd.setCaption("8");
    EXPECT_EQ(pixel(QPoint(1, 1)).rgb(), lcd.palette().color(QPalette::Midlight).rgb());
    EXPECT_EQ(segment(0, 3).rgb(), lcd.palette().color(QPalette::WindowText).rgb());
    EXPECT_EQ(ToQColor(SysButtonFace, lcd.palette()), lcd.palette().color(QPalette::Button));
    EXPECT_EQ(ToQColor(SysButtonText, lcd.palette()), lcd.palette().color(QPalette::ButtonText));
}

TEST_F(DisplayRender, MouseEventsAreRaisedInTwips) {
    Spy<int16_t, int16_t, float, float> down(&lcd, &eLCD::MouseDown);
    Spy<> click(&lcd, &eLCD::Click);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 4), QPointF(10, 4), Qt::LeftButton,
                      Qt::LeftButton, Qt::ShiftModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 4), QPointF(10, 4), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&lcd, &press);
    QApplication::sendEvent(&lcd, &release);
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down.calls[0], std::make_tuple(int16_t(1), int16_t(1), 150.f, 60.f));
    EXPECT_EQ(click.count(), 1);
}

namespace {

struct TileRender : ::testing::Test {
    LCDModule tile;
    eLCD& lcd = *tile.display();
    eLCDContainer& frame = *tile.frame();
    QColor lcdPixel(const Segment& s) const { return lcd.image().pixelColor(MiddleOf(s)); }
};

} // namespace

TEST_F(TileRender, DesignPlacesAndColours) {
    EXPECT_EQ(tile.size(), QSize(270, 86));
    EXPECT_EQ(frame.geometry(), QRect(4, 28, 261, 57));
    EXPECT_EQ(lcd.width(), 253);
    EXPECT_EQ(lcd.y(), 4);
    EXPECT_EQ(tile.zeroButton()->text(), "Zero");
    EXPECT_EQ(tile.Title(), "Label1");
    tile.setTitle("<b>x</b> & y");
    EXPECT_EQ(tile.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(tile.Value(), "12345678");
    EXPECT_EQ(tile.BackColor(), 0u);
    EXPECT_EQ(tile.ForeColor(), SysWindowText);
    EXPECT_EQ(frame.OffColor(), 0xC0C0C0u);
    EXPECT_EQ(lcd.BackColor(), Sys3DLight);
    EXPECT_DOUBLE_EQ(tile.titleLabel()->font().pointSizeF(), 9.75);
    // Rounded corners: the very corner is cut off, the inside is not.
    EXPECT_FALSE(frame.mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(frame.mask().contains(QPoint(6, 0)));
    EXPECT_TRUE(frame.mask().contains(QPoint(130, 28)));
    EXPECT_FALSE(frame.mask().contains(QPoint(260, 56)));
}

TEST_F(TileRender, SchemeFourGivesRedOnNearlyBlack) {
    tile.setValue("1");
    tile.setScheme(4);
    EXPECT_EQ(frame.BackColor(), 65557u);
    EXPECT_EQ(lcd.BackColor(), 65557u);
    EXPECT_EQ(lcd.OnColor(), 255u);
    EXPECT_EQ(lcd.OffColor(), 128u);
    const QImage shot = tile.grab().toImage();
    EXPECT_EQ(shot.pixelColor(frame.x() + 2, frame.y() + 40), QColor(21, 0, 1));
    EXPECT_EQ(lcdPixel(lcd.geometry().seg[2]), QColor(255, 0, 0));
    EXPECT_EQ(lcdPixel(lcd.geometry().seg[0]), QColor(128, 0, 0));
    EXPECT_EQ(lcd.image().pixelColor(1, 1), QColor(21, 0, 1));
    const QPoint lit = frame.pos() + lcd.pos() + MiddleOf(lcd.geometry().seg[2]);
    EXPECT_EQ(shot.pixelColor(lit), QColor(255, 0, 0));
}

TEST_F(TileRender, BlackBackColorHidesUnlitSegments) {
    tile.setForeColor(0xFFFFFF);
    tile.setValue("1");
    tile.setBackColor(0);
    EXPECT_EQ(lcd.BackColor(), 0u);
    EXPECT_EQ(lcd.OffColor(), 0u);
    EXPECT_EQ(frame.BackColor(), 0u);
    EXPECT_EQ(lcdPixel(lcd.geometry().seg[0]), QColor(0, 0, 0));
    EXPECT_EQ(lcdPixel(lcd.geometry().seg[2]), QColor(255, 255, 255));
    const QImage& image = lcd.image();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            ASSERT_TRUE(c.red() == c.green() && c.green() == c.blue()) << x << "," << y;
        }
}

TEST_F(TileRender, BackColorEqualToTheDisplaysChangesNothing) {
    tile.setScheme(4);
    const int drawn = lcd.drawings();
    Spy<const QString&> notified(&tile, &LCDModule::propertyChanged);
    tile.setBackColor(65557);
    EXPECT_EQ(lcd.OffColor(), 128u);
    EXPECT_EQ(frame.BackColor(), 65557u);
    EXPECT_EQ(lcd.drawings(), drawn);
    EXPECT_EQ(tile.BackColor(), 65557u);
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(std::get<0>(notified.calls[0]), "BackColor");
}

TEST_F(TileRender, ZeroButtonRaisesZero) {
    Spy<> zero(&tile, &LCDModule::Zero);
    tile.zeroButton()->click();
    EXPECT_EQ(zero.count(), 1);
}

TEST_F(TileRender, TileSavesOnlyWhatDiffersAndLoadsInOrder) {
    PropertyBag fresh;
    tile.save(fresh);
    ASSERT_EQ(fresh.entries().size(), 1u); // the design's window-text segments
    EXPECT_EQ(fresh.entries()[0].first, "ForeColor");

    PropertyBag bag;
    bag.write("BackColor", int64_t(0x0000FF), int64_t(0));
    bag.write("Title", std::string("Flow"), std::string("Label1"));
    bag.write("Value", std::string("-------"), std::string("12345678"));
    bag.write("Digits", int64_t(7), int64_t(8));
    LCDModule loaded;
    loaded.load(bag);
    EXPECT_EQ(loaded.BackColor(), 0x0000FFu);
    EXPECT_EQ(loaded.display()->OffColor(), 0x0000FFu);
    EXPECT_EQ(loaded.ForeColor(), 0xFFFFFFu); // stored default
    EXPECT_EQ(loaded.Title(), "Flow");
    EXPECT_EQ(loaded.Value(), "-------");
    EXPECT_EQ(loaded.Digits(), 7);
}

TEST(FrameColours, SchemeZeroPushesThePresentColours) {
    eLCDContainer frame;
    auto* lcd = new eLCD(&frame);
    auto* label = new QLabel(&frame); // has no colours: passed over
    lcd->setGeometryTwips(60, 60, 3795, 690);
    frame.setOnColor(0x00FF00);
    frame.setOffColor(0x112233);
    frame.setBackColor(0x445566);
    EXPECT_EQ(lcd->OnColor(), 0u); // setting the frame alone pushes nothing
    frame.setScheme(0);
    EXPECT_EQ(frame.BackColor(), 0x445566u);
    EXPECT_EQ(lcd->BackColor(), 0x445566u);
    EXPECT_EQ(lcd->OnColor(), 0x00FF00u);
    EXPECT_EQ(lcd->OffColor(), 0x112233u);
    EXPECT_TRUE(label->dynamicPropertyNames().isEmpty());
}

TEST(FrameColours, LoadingKeepsTheSchemeWithoutApplyingIt) {
    PropertyBag bag;
    bag.write("BackColor", int64_t(0x0A0B0C), int64_t(SysButtonFace));
    bag.write("OnColor", int64_t(0x0000FF), int64_t(0));
    bag.write("Scheme", int64_t(2), int64_t(0));
    eLCDContainer frame;
    auto* lcd = new eLCD(&frame);
    frame.load(bag);
    EXPECT_EQ(frame.Scheme(), 2);
    EXPECT_EQ(frame.BackColor(), 0x0A0B0Cu);
    EXPECT_EQ(frame.OnColor(), 0x0000FFu);
    EXPECT_EQ(frame.OffColor(), 7969130u);
    EXPECT_EQ(lcd->OnColor(), 0u); // not pushed
    PropertyBag saved;
    frame.save(saved);
    EXPECT_EQ(saved.readNumber("Scheme", 0), 2);
    EXPECT_EQ(saved.readNumber("BackColor", 0), 0x0A0B0C);
    EXPECT_FALSE(saved.contains("OffColor"));
}

namespace {

struct TableRender : ::testing::Test {
    TableContainer table;
    LCDModule* templ = new LCDModule(&table);
    std::vector<LCDModule*> tiles;
    TableRender() {
        templ->setGeometry(500, 500, 270, 86);
        templ->hide();
        for (int i = 1; i <= 6; ++i) {
            auto* tile = new LCDModule(&table);
            tile->setIndex(i);
            tile->resize(269, 91); // 4035 x 1365 twips
            tiles.push_back(tile);
        }
        new QLabel(&table); // no Index: not part of the array
    }
};

} // namespace

// Where each tile goes is the layout's (TableLayoutTests); here: that the
// container lays its tiles out in pixels, on Refresh and on every resize,
// and leaves the template and the widgets without an Index alone.
TEST_F(TableRender, RefreshAndResizeLayTheTilesOut) {
    table.resize(834, 100); // 12510 twips
    table.Refresh();
    EXPECT_EQ(tiles[3]->pos(), QPoint(0, 91));
    EXPECT_EQ(table.size(), QSize(807, TwipsToPixels(3650)));
    table.show();
    table.resize(2000, 100);
    EXPECT_EQ(tiles[5]->pos(), QPoint(5 * 269, 0));
    EXPECT_EQ(table.size(), QSize(6 * 269, TwipsToPixels(1365 + 920)));
    EXPECT_EQ(templ->pos(), QPoint(500, 500));
    EXPECT_TRUE(templ->isHidden());
    for (auto* tile : tiles)
        EXPECT_FALSE(tile->isHidden());
}
