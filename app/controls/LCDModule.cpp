#include "controls/LCDModule.h"

#include "controls/QtSurface.h"
#include "controls/eLCD.h"
#include "controls/eLCDContainer.h"

#include <QLabel>
#include <QPushButton>

LCDModule::LCDModule(QWidget* parent)
    : QWidget(parent), m_titleBox(new QWidget(this)), m_title(new QLabel(m_titleBox)),
      m_zero(new QPushButton(QStringLiteral("Zero"), this)), m_frame(new eLCDContainer(this)),
      m_display(new eLCD(m_frame)) {
    // Fixed places in twips; the tile never lays its children out again.
    PlaceTwips(*this, 0, 0, 4050, 1290);
    PlaceTwips(*m_titleBox, 60, 60, 3135, 315);
    PlaceTwips(*m_title, 60, 0, 3015, 315);
    PlaceTwips(*m_zero, 3300, 60, 675, 315);
    PlaceTwips(*m_frame, 60, 420, 3915, 855);

    QFont font(QStringLiteral("Trebuchet MS"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    m_title->setFont(font);
    // A channel caption is shown as written, never read as markup.
    m_title->setTextFormat(Qt::PlainText);
    m_title->setText(QStringLiteral("Label1"));

    m_frame->setBackColor(Sys3DLight);
    m_frame->setOffColor(0xC0C0C0);
    m_display->setBackColor(Sys3DLight);
    m_display->setOffColor(Sys3DLight);
    m_display->setOnColor(SysWindowText);
    m_display->setGeometryTwips(60, 60, 3795, 690);

    SetRoundedRegion(*m_titleBox, 9);
    SetRoundedRegion(*m_frame, 12);

    connect(m_zero, &QPushButton::clicked, this, &LCDModule::Zero);
}

void LCDModule::setBackColor(ColourValue c) {
    m_p.BackColor = c;
    emit propertyChanged(QStringLiteral("BackColor"));
    // Refreshes assign the colour several times a second; only a change
    // reaches the display.
    if (m_display->BackColor() == c) return;
    m_display->setBackColor(c);
    m_display->setOffColor(c);
    m_frame->setBackColor(c);
}

ColourValue LCDModule::ForeColor() const {
    return m_display->OnColor();
}

void LCDModule::setForeColor(ColourValue c) {
    m_display->setOnColor(c);
    emit propertyChanged(QStringLiteral("ForeColor"));
}

QString LCDModule::Title() const {
    return m_title->text();
}

void LCDModule::setTitle(const QString& title) {
    m_title->setText(title);
    emit propertyChanged(QStringLiteral("Title"));
}

QString LCDModule::Value() const {
    return m_display->Caption();
}

void LCDModule::setValue(const QString& value) {
    m_display->setCaption(value);
    emit propertyChanged(QStringLiteral("Value"));
}

int LCDModule::Digits() const {
    return m_display->Digits();
}

void LCDModule::setDigits(int digits) {
    m_display->setDigits(digits);
    emit propertyChanged(QStringLiteral("Digits"));
}

int32_t LCDModule::Scheme() const {
    return m_frame->Scheme();
}

void LCDModule::setScheme(int32_t scheme) {
    m_frame->setScheme(scheme);
}

void LCDModule::save(PropertyBag& bag) const {
    TileProperties p;
    p.BackColor = m_p.BackColor;
    p.ForeColor = ForeColor();
    p.Title = Title().toStdString();
    p.Value = Value().toStdString();
    p.Digits = Digits();
    SaveTileProperties(bag, p);
}

void LCDModule::load(const PropertyBag& bag) {
    const TileProperties stored = LoadTileProperties(bag);
    setBackColor(stored.BackColor);
    setForeColor(stored.ForeColor);
    setTitle(QString::fromStdString(stored.Title));
    setValue(QString::fromStdString(stored.Value));
    setDigits(stored.Digits);
}
