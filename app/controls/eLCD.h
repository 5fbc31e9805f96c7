// Seven-segment display widget. Set the width and Digits; the display sets
// its own height. Caption assignments that do not change the text are cheap.
#pragma once

#include "controls/PropertyBag.h"
#include "controls/QtSurface.h"
#include "controls/SevenSegment.h"

#include <QImage>

class eLCD : public ControlSurface, private DisplaySurface {
    Q_OBJECT

  public:
    explicit eLCD(QWidget* parent = nullptr);

    ColourValue BackColor() const override { return m_display.properties().BackColor; }
    void setBackColor(ColourValue c) override { m_display.setBackColor(c); }
    ColourValue OnColor() const override { return m_display.properties().OnColor; }
    void setOnColor(ColourValue c) override { m_display.setOnColor(c); }
    ColourValue OffColor() const override { return m_display.properties().OffColor; }
    void setOffColor(ColourValue c) override { m_display.setOffColor(c); }
    QString Caption() const;
    void setCaption(const QString& text);
    int Digits() const { return m_display.properties().Digits; }
    void setDigits(int digits) { m_display.setDigits(digits); }
    int MousePointer() const { return m_display.properties().MousePointer; }
    void setMousePointer(int pointer);
    const std::string& MouseIcon() const { return m_display.properties().MouseIcon; }
    void setMouseIcon(const std::string& encodedImage);
    int BorderStyle() const { return m_display.properties().BorderStyle; }
    void setBorderStyle(int style) {
        m_display.setBorderStyle(style);
        update();
    }

    // Moves and sizes the display by twips and lays it out at once, shown
    // or not (a hidden widget gets its resize event only when shown).
    void setGeometryTwips(int left, int top, int width, int height);

    void save(PropertyBag& bag) const;
    void load(const PropertyBag& bag);

    // The kept image and how often it was drawn (for checks and previews).
    const QImage& image() const { return m_image; }
    int drawings() const { return m_display.drawings(); }
    const DigitGeometry& geometry() const { return m_display.geometry(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int widthTwips() const override;
    int heightTwips() const override;
    void setHeightTwips(int height) override;
    void clear(ColourValue background) override;
    void draw(const std::vector<Stroke>& strokes, int strokeWidthPixels) override;
    void fitImage();
    void layOutIfResized();

    SevenSegmentDisplay m_display;
    QImage m_image;
    QSize m_laidOutSize;
};
