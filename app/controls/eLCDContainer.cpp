#include "controls/eLCDContainer.h"

#include "controls/QtSurface.h"
#include "controls/SevenSegment.h"

#include <QMetaProperty>
#include <QPaintEvent>
#include <QPainter>

eLCDContainer::eLCDContainer(QWidget* parent) : ControlSurface(parent) {}

void eLCDContainer::setBackColor(ColourValue c) {
    m_p.BackColor = c;
    changed("BackColor");
    update();
}

void eLCDContainer::setOnColor(ColourValue c) {
    m_p.OnColor = c;
    changed("OnColor");
}

void eLCDContainer::setOffColor(ColourValue c) {
    m_p.OffColor = c;
    changed("OffColor");
}

void eLCDContainer::setScheme(int32_t scheme) {
    m_p.Scheme = scheme;
    changed("Scheme");
    if (const auto row = SchemeColors(scheme)) {
        setBackColor(row->back);
        setOffColor(row->off);
        setOnColor(row->on);
    }
    pushColours();
}

void eLCDContainer::setColorChildren(bool) {
    pushColours();
}

void eLCDContainer::pushColours() {
    const std::pair<const char*, ColourValue> colours[] = {
        {"BackColor", m_p.BackColor}, {"OnColor", m_p.OnColor}, {"OffColor", m_p.OffColor}};
    for (QObject* child : children()) {
        if (!child->isWidgetType()) continue;
        const QMetaObject* meta = child->metaObject();
        for (const auto& [name, value] : colours) {
            // Controls without the colour are passed over, one colour at a time.
            const int index = meta->indexOfProperty(name);
            if (index < 0 || !meta->property(index).isWritable()) continue;
            meta->property(index).write(child, QVariant::fromValue<quint32>(value));
        }
    }
}

void eLCDContainer::setMousePointer(int pointer) {
    m_p.MousePointer = pointer;
    changed("MousePointer");
    applyPointer(pointer, m_p.MouseIcon);
}

void eLCDContainer::setMouseIcon(const std::string& encodedImage) {
    m_p.MouseIcon = encodedImage;
    changed("MouseIcon");
    applyPointer(m_p.MousePointer, encodedImage);
}

void eLCDContainer::setBorderStyle(int style) {
    m_p.BorderStyle = ValidBorderStyle(style);
    changed("BorderStyle");
    update();
}

void eLCDContainer::save(PropertyBag& bag) const {
    SaveFrameProperties(bag, m_p);
}

void eLCDContainer::load(const PropertyBag& bag) {
    const FrameProperties stored = LoadFrameProperties(bag);
    m_p.BackColor = stored.BackColor;
    update();
    setOnColor(stored.OnColor);
    setOffColor(stored.OffColor);
    setMouseIcon(stored.MouseIcon);
    setMousePointer(stored.MousePointer);
    setBorderStyle(stored.BorderStyle);
    // The stored colours already hold the scheme's result.
    m_p.Scheme = stored.Scheme;
}

void eLCDContainer::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), ToQColor(m_p.BackColor, palette()));
    paintBorder(painter, m_p.BorderStyle);
}
