// Display frame: a background and a pair of segment colours it hands to the
// controls placed in it, with five built-in schemes (1 to 5, 0 for none).
#pragma once

#include "PropertyBag.h"
#include "TileColours.h"

#include <QWidget>

class eLCDContainer : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(quint32 OnColor READ OnColor WRITE setOnColor)
    Q_PROPERTY(quint32 OffColor READ OffColor WRITE setOffColor)

  public:
    explicit eLCDContainer(QWidget* parent = nullptr);

    ColourValue BackColor() const { return m_p.BackColor; }
    void setBackColor(ColourValue c);
    ColourValue OnColor() const { return m_p.OnColor; }
    void setOnColor(ColourValue c);
    ColourValue OffColor() const { return m_p.OffColor; }
    void setOffColor(ColourValue c);
    int32_t Scheme() const { return m_p.Scheme; }
    // 1 to 5 apply a scheme row; any number then pushes the colours on.
    void setScheme(int32_t scheme);
    // Always false; assigning anything pushes the colours to the children.
    bool ColorChildren() const { return false; }
    void setColorChildren(bool);
    int MousePointer() const { return m_p.MousePointer; }
    void setMousePointer(int pointer);
    const std::string& MouseIcon() const { return m_p.MouseIcon; }
    void setMouseIcon(const std::string& encodedImage);
    int BorderStyle() const { return m_p.BorderStyle; }
    void setBorderStyle(int style);

    void save(PropertyBag& bag) const;
    // Takes the stored colours; the stored Scheme is kept, not applied.
    void load(const PropertyBag& bag);

  signals:
    void Click();
    void DblClick();
    void MouseDown(int16_t Button, int16_t Shift, float X, float Y);
    void MouseMove(int16_t Button, int16_t Shift, float X, float Y);
    void MouseUp(int16_t Button, int16_t Shift, float X, float Y);
    void propertyChanged(const QString& key);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void pushColours();
    void changed(const char* key);

    FrameProperties m_p;
    bool m_afterDouble = false;
};
