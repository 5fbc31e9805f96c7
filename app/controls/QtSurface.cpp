#include "QtSurface.h"

#include <QBitmap>
#include <QCursor>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>

QColor ToQColor(ColourValue value, const QPalette& palette) {
    if (!IsSystemColour(value)) return QColor(RedOf(value), GreenOf(value), BlueOf(value));
    switch (SystemColourIndex(value)) {
    case 5:
        return palette.color(QPalette::Base);
    case 6:
    case 21:
        return palette.color(QPalette::Shadow);
    case 7:
    case 8:
        return palette.color(QPalette::WindowText);
    case 13:
        return palette.color(QPalette::Highlight);
    case 9:
    case 14:
        return palette.color(QPalette::HighlightedText);
    case 15:
        return palette.color(QPalette::Button);
    case 16:
        return palette.color(QPalette::Mid);
    case 17:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case 18:
        return palette.color(QPalette::ButtonText);
    case 20:
        return palette.color(QPalette::Light);
    case 22:
        return palette.color(QPalette::Midlight);
    case 23:
        return palette.color(QPalette::ToolTipText);
    case 24:
        return palette.color(QPalette::ToolTipBase);
    case 26:
        return palette.color(QPalette::Link);
    case 1:
    case 12:
        return palette.color(QPalette::Dark);
    default:
        return palette.color(QPalette::Window);
    }
}

void ApplyPointer(QWidget& widget, int mousePointer, const std::string& mouseIcon) {
    static const Qt::CursorShape shapes[] = {
        Qt::ArrowCursor,     Qt::ArrowCursor,   Qt::CrossCursor,     Qt::IBeamCursor,
        Qt::ArrowCursor,     Qt::SizeAllCursor, Qt::SizeBDiagCursor, Qt::SizeVerCursor,
        Qt::SizeFDiagCursor, Qt::SizeHorCursor, Qt::UpArrowCursor,   Qt::WaitCursor,
        Qt::ForbiddenCursor, Qt::BusyCursor,    Qt::WhatsThisCursor, Qt::SizeAllCursor,
    };
    if (mousePointer == 99) {
        QPixmap image;
        if (!mouseIcon.empty() &&
            image.loadFromData(reinterpret_cast<const uchar*>(mouseIcon.data()),
                               uint(mouseIcon.size()))) {
            widget.setCursor(QCursor(image));
            return;
        }
    } else if (mousePointer > 0 && mousePointer < int(std::size(shapes))) {
        widget.setCursor(shapes[mousePointer]);
        return;
    }
    widget.unsetCursor();
}

MouseArgs ToMouseArgs(const QMouseEvent& event, bool buttonsHeld) {
    const Qt::MouseButtons buttons = buttonsHeld ? event.buttons() : event.button();
    MouseArgs a;
    if (buttons & Qt::LeftButton) a.Button |= 1;
    if (buttons & Qt::RightButton) a.Button |= 2;
    if (buttons & Qt::MiddleButton) a.Button |= 4;
    if (event.modifiers() & Qt::ShiftModifier) a.Shift |= 1;
    if (event.modifiers() & Qt::ControlModifier) a.Shift |= 2;
    if (event.modifiers() & Qt::AltModifier) a.Shift |= 4;
    a.X = float(event.position().x() * TwipsPerPixel);
    a.Y = float(event.position().y() * TwipsPerPixel);
    return a;
}

void SetRoundedRegion(QWidget& widget, int cornerEllipse) {
    QPainterPath outline;
    const double radius = cornerEllipse / 2.0;
    outline.addRoundedRect(QRectF(0, 0, widget.width(), widget.height()), radius, radius);
    widget.setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

void PlaceTwips(QWidget& widget, int left, int top, int width, int height) {
    widget.setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                       TwipsToPixels(height));
}
