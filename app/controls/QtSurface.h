// What the Qt controls share: colour values to Qt colours, twips to pixels,
// the pointer properties and the mouse-event arguments of the controls.
#pragma once

#include "ColourValue.h"

#include <QColor>
#include <QMouseEvent>
#include <QPalette>
#include <QWidget>
#include <string>

// System colours come from the palette (8 window text, 15 button face,
// 18 button text, 22 three-dimensional light, a few more by their meaning).
QColor ToQColor(ColourValue value, const QPalette& palette);

// MousePointer 0 is the default pointer, 99 the custom MouseIcon image.
void ApplyPointer(QWidget& widget, int mousePointer, const std::string& mouseIcon);

// Button 1 left, 2 right, 4 middle; Shift 1 shift, 2 control, 4 alt; X, Y in twips.
struct MouseArgs {
    int16_t Button = 0, Shift = 0;
    float X = 0, Y = 0;
};
MouseArgs ToMouseArgs(const QMouseEvent& event, bool buttonsHeld);

// Raises a control's Click, DblClick, MouseDown, MouseMove and MouseUp from
// its mouse events; false for any other event. Click follows a release over
// the control, except the release that ends a double click.
template <class Control> bool RelayMouse(Control& control, QEvent& event, bool& afterDouble) {
    if (event.type() == QEvent::MouseButtonDblClick) {
        afterDouble = true;
        emit control.DblClick();
        return true;
    }
    if (event.type() != QEvent::MouseButtonPress && event.type() != QEvent::MouseMove &&
        event.type() != QEvent::MouseButtonRelease)
        return false;
    const auto& mouse = static_cast<const QMouseEvent&>(event);
    const MouseArgs a = ToMouseArgs(mouse, event.type() == QEvent::MouseMove);
    if (event.type() == QEvent::MouseButtonPress) {
        afterDouble = false;
        emit control.MouseDown(a.Button, a.Shift, a.X, a.Y);
    } else if (event.type() == QEvent::MouseMove) {
        emit control.MouseMove(a.Button, a.Shift, a.X, a.Y);
    } else {
        emit control.MouseUp(a.Button, a.Shift, a.X, a.Y);
        if (!afterDouble && control.rect().contains(mouse.position().toPoint()))
            emit control.Click();
        afterDouble = false;
    }
    return true;
}

// Places a widget by twips within its parent.
void PlaceTwips(QWidget& widget, int left, int top, int width, int height);

// A rounded rectangle over size, with the corner ellipse in pixels.
void SetRoundedRegion(QWidget& widget, int cornerEllipse);
