#include "controls/QtSurface.h"

#include <QBitmap>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>

QColor ToQColor(ColourValue value, const QPalette& palette) {
    if (!IsSystemColour(value)) return QColor(RedOf(value), GreenOf(value), BlueOf(value));
    // The platform's system colours by number, each to the palette role of
    // the same meaning.
    static const QPalette::ColorRole roles[] = {
        QPalette::Mid,
        QPalette::Dark,
        QPalette::Highlight,
        QPalette::Mid,
        QPalette::Window,
        QPalette::Base,
        QPalette::Shadow,
        QPalette::WindowText,
        QPalette::WindowText,
        QPalette::HighlightedText,
        QPalette::Window,
        QPalette::Window,
        QPalette::Dark,
        QPalette::Highlight,
        QPalette::HighlightedText,
        QPalette::Button,
        QPalette::Mid,
        QPalette::PlaceholderText,
        QPalette::ButtonText,
        QPalette::Text,
        QPalette::Light,
        QPalette::Shadow,
        QPalette::Midlight,
        QPalette::ToolTipText,
        QPalette::ToolTipBase,
        QPalette::Window,
        QPalette::Link,
    };
    const int n = SystemColourIndex(value);
    return palette.color(n < int(std::size(roles)) ? roles[n] : QPalette::Window);
}

ControlSurface::ControlSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void ControlSurface::applyPointer(int mousePointer, const std::string& mouseIcon) {
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
            setCursor(QCursor(image));
            return;
        }
    } else if (mousePointer > 0 && mousePointer < int(std::size(shapes))) {
        setCursor(shapes[mousePointer]);
        return;
    }
    unsetCursor();
}

void ControlSurface::paintBorder(QPainter& painter, int borderStyle) {
    if (borderStyle != 1) return;
    painter.setPen(palette().color(QPalette::Shadow));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool ControlSurface::event(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonDblClick) {
        m_afterDouble = true;
        emit DblClick();
        return true;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return QWidget::event(event);

    const auto& mouse = static_cast<const QMouseEvent&>(*event);
    // A move reports the buttons held, a press or release the one button.
    const Qt::MouseButtons buttons = type == QEvent::MouseMove ? mouse.buttons() : mouse.button();
    int16_t button = 0, shift = 0;
    if (buttons & Qt::LeftButton) button |= 1;
    if (buttons & Qt::RightButton) button |= 2;
    if (buttons & Qt::MiddleButton) button |= 4;
    if (mouse.modifiers() & Qt::ShiftModifier) shift |= 1;
    if (mouse.modifiers() & Qt::ControlModifier) shift |= 2;
    if (mouse.modifiers() & Qt::AltModifier) shift |= 4;
    const float x = float(mouse.position().x() * TwipsPerPixel);
    const float y = float(mouse.position().y() * TwipsPerPixel);
    if (type == QEvent::MouseButtonPress) {
        m_afterDouble = false;
        emit MouseDown(button, shift, x, y);
    } else if (type == QEvent::MouseMove) {
        emit MouseMove(button, shift, x, y);
    } else {
        emit MouseUp(button, shift, x, y);
        if (!m_afterDouble && rect().contains(mouse.position().toPoint())) emit Click();
        m_afterDouble = false;
    }
    return true;
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
