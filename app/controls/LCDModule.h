// Channel tile: title strip, "Zero" button and a seven-segment value.
//
//   auto* tile = new LCDModule(tableContainer);   // children in channel order
//   tile->setIndex(channel);                      // 0 is the hidden template
//   tile->setTitle("Channel 1");
//   tile->setValue("12.345");                     // on every refresh
//   tile->setBackColor(RgbColour(255, 0, 0));     // unlit segments take it
//   tile->setScheme(4);                           // frame and display colours
//   connect(tile, &LCDModule::Zero, ...);         // the operator asked for a tare
//   tableContainer->Refresh();
#pragma once

#include "controls/PropertyBag.h"
#include "controls/TileColours.h"

#include <QWidget>

class QLabel;
class QPushButton;
class eLCD;
class eLCDContainer;

class LCDModule : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Index READ Index WRITE setIndex)
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)

  public:
    explicit LCDModule(QWidget* parent = nullptr);

    // Position in the main window's tile array.
    int Index() const { return m_index; }
    void setIndex(int index) { m_index = index; }

    ColourValue BackColor() const { return m_p.BackColor; }
    // Display background, unlit segments and frame all take the colour,
    // unless the display already has it.
    void setBackColor(ColourValue c);
    ColourValue ForeColor() const;
    void setForeColor(ColourValue c);
    QString Title() const;
    void setTitle(const QString& title);
    QString Value() const;
    void setValue(const QString& value);
    int Digits() const;
    void setDigits(int digits);
    // The frame's colour scheme (1 to 5; 0 keeps the present colours).
    int32_t Scheme() const;
    void setScheme(int32_t scheme);

    void save(PropertyBag& bag) const;
    void load(const PropertyBag& bag);

    eLCD* display() const { return m_display; }
    eLCDContainer* frame() const { return m_frame; }
    QLabel* titleLabel() const { return m_title; }
    QPushButton* zeroButton() const { return m_zero; }

  signals:
    void Zero();
    void propertyChanged(const QString& key);

  private:
    int m_index = 0;
    TileProperties m_p;
    QWidget* m_titleBox;
    QLabel* m_title;
    QPushButton* m_zero;
    eLCDContainer* m_frame;
    eLCD* m_display;
};
