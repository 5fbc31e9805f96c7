// What the Qt controls share: colour values to Qt colours, twips to pixels,
// and the control surface that raises mouse events and property changes.
#pragma once

#include "controls/ColourValue.h"

#include <QColor>
#include <QPalette>
#include <QWidget>
#include <cstdint>
#include <string>

class QPainter;

// System colours come from the palette (8 window text, 15 button face,
// 18 button text, 22 three-dimensional light, a few more by their meaning).
QColor ToQColor(ColourValue value, const QPalette& palette);

// Places a widget by twips within its parent.
void PlaceTwips(QWidget& widget, int left, int top, int width, int height);

// A rounded rectangle over the widget's size, corner ellipse in pixels.
void SetRoundedRegion(QWidget& widget, int cornerEllipse);

// The surface of the display and of its frame: a background and a pair of
// segment colours, reachable by name so that a frame can hand its colours
// to whatever it holds. Mouse events arrive as
// Button (1 left, 2 right, 4 middle), Shift (1 shift, 2 control, 4 alt) and
// X, Y in twips; Click follows a release over the control, except the
// release that ends a double click.
class ControlSurface : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(quint32 OnColor READ OnColor WRITE setOnColor)
    Q_PROPERTY(quint32 OffColor READ OffColor WRITE setOffColor)

  public:
    explicit ControlSurface(QWidget* parent = nullptr);

    virtual ColourValue BackColor() const = 0;
    virtual void setBackColor(ColourValue c) = 0;
    virtual ColourValue OnColor() const = 0;
    virtual void setOnColor(ColourValue c) = 0;
    virtual ColourValue OffColor() const = 0;
    virtual void setOffColor(ColourValue c) = 0;

  signals:
    void Click();
    void DblClick();
    void MouseDown(int16_t Button, int16_t Shift, float X, float Y);
    void MouseMove(int16_t Button, int16_t Shift, float X, float Y);
    void MouseUp(int16_t Button, int16_t Shift, float X, float Y);
    // Every setter names the stored property it touched.
    void propertyChanged(const QString& key);

  protected:
    bool event(QEvent* event) override;
    void changed(const char* key) { emit propertyChanged(QString::fromLatin1(key)); }
    // MousePointer 0 is the default pointer, 99 the custom MouseIcon image.
    void applyPointer(int mousePointer, const std::string& mouseIcon);
    // BorderStyle 1 is a fixed single line round the control.
    void paintBorder(QPainter& painter, int borderStyle);

  private:
    bool m_afterDouble = false;
};
