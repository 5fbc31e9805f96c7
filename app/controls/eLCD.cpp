#include "controls/eLCD.h"

#include "controls/QtSurface.h"

#include <QPaintEvent>
#include <QPainter>

eLCD::eLCD(QWidget* parent)
    : ControlSurface(parent), m_display(*this, [this](const char* key) { changed(key); }) {}

QString eLCD::Caption() const {
    return QString::fromStdString(m_display.properties().Caption);
}

void eLCD::setCaption(const QString& text) {
    // Runs several times a second per channel: unchanged text must stay cheap.
    m_display.setCaption(text.toStdString());
}

void eLCD::setMousePointer(int pointer) {
    m_display.setMousePointer(pointer);
    applyPointer(pointer, MouseIcon());
}

void eLCD::setMouseIcon(const std::string& encodedImage) {
    m_display.setMouseIcon(encodedImage);
    applyPointer(MousePointer(), encodedImage);
}

void eLCD::setGeometryTwips(int left, int top, int width, int height) {
    PlaceTwips(*this, left, top, width, height);
    layOutIfResized();
}

void eLCD::save(PropertyBag& bag) const {
    SaveDisplayProperties(bag, m_display.properties());
}

void eLCD::load(const PropertyBag& bag) {
    m_display.load(LoadDisplayProperties(bag));
    m_laidOutSize = size();
    applyPointer(MousePointer(), MouseIcon());
}

void eLCD::layOutIfResized() {
    if (size() == m_laidOutSize) return;
    m_display.resize();
    m_laidOutSize = size();
}

void eLCD::resizeEvent(QResizeEvent*) {
    layOutIfResized();
}

void eLCD::paintEvent(QPaintEvent* event) {
    // Repaints show the kept image; they never draw the digits again.
    QPainter painter(this);
    painter.fillRect(event->rect(), ToQColor(BackColor(), palette()));
    painter.drawImage(QPoint(0, 0), m_image);
    paintBorder(painter, BorderStyle());
}

int eLCD::widthTwips() const {
    return PixelsToTwips(width());
}
int eLCD::heightTwips() const {
    return PixelsToTwips(height());
}

void eLCD::setHeightTwips(int height) {
    resize(width(), std::max(1, TwipsToPixels(height)));
}

void eLCD::fitImage() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_image.size() == pixels && m_image.devicePixelRatio() == ratio) return;
    m_image = QImage(pixels, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(ratio);
    m_image.fill(ToQColor(BackColor(), palette()));
}

void eLCD::clear(ColourValue background) {
    fitImage();
    m_image.fill(ToQColor(background, palette()));
    update();
}

void eLCD::draw(const std::vector<Stroke>& strokes, int strokeWidthPixels) {
    fitImage();
    // Every drawing covers every segment, but smoothed edges of a lit stroke
    // would show through an unlit one painted over it: start from the
    // background each time.
    m_image.fill(ToQColor(BackColor(), palette()));
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The geometry is in twips; the painter takes them as they are.
    painter.scale(1.0 / TwipsPerPixel, 1.0 / TwipsPerPixel);
    const double width = double(strokeWidthPixels) * TwipsPerPixel;
    QPen pen(Qt::black, width, Qt::SolidLine, Qt::RoundCap);
    for (const Stroke& s : strokes) {
        const QColor colour = ToQColor(s.colour, palette());
        if (s.start == s.end) {
            // A round-ended stroke of no length is a dot of the stroke width.
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawEllipse(QPointF(s.start.x, s.start.y), width / 2, width / 2);
        } else {
            pen.setColor(colour);
            painter.setPen(pen);
            painter.drawLine(QPointF(s.start.x, s.start.y), QPointF(s.end.x, s.end.y));
        }
    }
    update();
}
